# A throwaway PostgreSQL cluster for a test or benchmark run, sourced by ./scripts/test and
# ./scripts/bench-server. initdb and postgres refuse to run as root, so as root the cluster
# belongs to the postgres user; its folder, socket included, is under /tmp/tarvo-pg.*, and it
# listens on a free loopback port.

PG_BIN="${PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)}"

as_cluster_owner() {
    if [[ $(id -u) -eq 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# Stops and removes the clusters of runs that ended without cleaning up (killed, or the
# machine stopped): their owner process is gone.
pg_cluster_remove_stale() {
    local dir owner
    for dir in /tmp/tarvo-pg.*; do
        [[ -d "$dir" ]] || continue
        owner="$(cat "$dir/owner" 2>/dev/null || true)"
        if [[ -n "$owner" ]] && kill -0 "$owner" 2>/dev/null; then continue; fi
        as_cluster_owner "$PG_BIN/pg_ctl" -D "$dir/data" stop -m immediate >/dev/null 2>&1 || true
        rm -rf "$dir"
    done
}

free_port() {
    local port
    for _ in $(seq 1 50); do
        port=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

# Starts a cluster; sets PG_CLUSTER_DIR, PG_CLUSTER_URI (a superuser's URI through the
# socket) and PG_CLUSTER_CTL (pg_ctl for this cluster, to which an action is appended).
# "pg_cluster_start durable" keeps PostgreSQL's own flushing to disk, as in production;
# without it nothing is flushed, which is all tests need.
pg_cluster_start() {
    local durable="${1:-}"
    [[ -x "$PG_BIN/initdb" ]] || { echo "PostgreSQL's initdb is missing (package postgresql)" >&2; return 1; }
    pg_cluster_remove_stale
    PG_CLUSTER_DIR="$(mktemp -d /tmp/tarvo-pg.XXXXXX)"
    echo $$ >"$PG_CLUSTER_DIR/owner"
    if [[ $(id -u) -eq 0 ]]; then chown postgres "$PG_CLUSTER_DIR"; fi
    local port user
    port="$(free_port)"
    user="$(if [[ $(id -u) -eq 0 ]]; then echo postgres; else id -un; fi)"
    as_cluster_owner "$PG_BIN/initdb" -D "$PG_CLUSTER_DIR/data" -U "$user" -A trust -E UTF8 \
        --locale=C --no-sync >"$PG_CLUSTER_DIR/initdb.log" 2>&1 \
        || { cat "$PG_CLUSTER_DIR/initdb.log" >&2; return 1; }
    cat >>"$PG_CLUSTER_DIR/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$PG_CLUSTER_DIR'
max_connections = 200
CONF
    if [[ "$durable" != durable ]]; then
        printf 'fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n' \
            >>"$PG_CLUSTER_DIR/data/postgresql.conf"
    fi
    PG_CLUSTER_CTL="$(if [[ $(id -u) -eq 0 ]]; then echo runuser -u postgres --; fi) $PG_BIN/pg_ctl -D $PG_CLUSTER_DIR/data -l $PG_CLUSTER_DIR/server.log -w"
    $PG_CLUSTER_CTL start >/dev/null || { cat "$PG_CLUSTER_DIR/server.log" >&2; return 1; }
    PG_CLUSTER_URI="postgresql://$user@/postgres?host=$PG_CLUSTER_DIR&port=$port"
}

pg_cluster_stop() {
    [[ -n "${PG_CLUSTER_DIR:-}" && -d "$PG_CLUSTER_DIR" ]] || return 0
    as_cluster_owner "$PG_BIN/pg_ctl" -D "$PG_CLUSTER_DIR/data" stop -m immediate >/dev/null 2>&1 || true
    rm -rf "$PG_CLUSTER_DIR"
    PG_CLUSTER_DIR=""
}
