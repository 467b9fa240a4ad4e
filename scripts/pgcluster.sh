# A throwaway PostgreSQL cluster for a test or benchmark run, sourced by ./scripts/test and
# ./scripts/bench-server. initdb and postgres refuse to run as root, so as root the cluster
# belongs to the postgres user; its folder, socket included, is under /tmp/tarvo-pg.*, and it
# listens on a free loopback port.

PG_BIN="${PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)}"

as_cluster_owner() {
    if [[ $(id -u) -eq 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# Stops and removes the clusters of runs that ended without cleaning up (killed, or the
# machine stopped): their owner process is gone. A folder holds one cluster (data/) or a
# primary and its standby (primary/, standby/).
pg_cluster_remove_stale() {
    local dir owner data
    for dir in /tmp/tarvo-pg.*; do
        [[ -d "$dir" ]] || continue
        owner="$(cat "$dir/owner" 2>/dev/null || true)"
        if [[ -n "$owner" ]] && kill -0 "$owner" 2>/dev/null; then continue; fi
        for data in "$dir"/data "$dir"/primary "$dir"/standby; do
            [[ -d "$data" ]] || continue
            as_cluster_owner "$PG_BIN/pg_ctl" -D "$data" stop -m immediate >/dev/null 2>&1 || true
        done
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

# The pair: a durable primary (PostgreSQL's own flushing, synchronous_commit = on) and a
# streaming standby that every commit waits for, as a production pair runs; the fast single
# cluster above stays what most tests use. Sets PG_PAIR_DIR, PG_PRIMARY_DATA, PG_STANDBY_DATA,
# PG_PRIMARY_PORT, PG_STANDBY_PORT, PG_PAIR_USER, PG_PRIMARY_CTL and PG_STANDBY_CTL (pg_ctl
# for each, to which an action is appended), and PG_PAIR_URI: a multi-host URI that reaches
# whichever of the two accepts writes, as servers are given it.
pg_pair_start() {
    [[ -x "$PG_BIN/initdb" && -x "$PG_BIN/pg_basebackup" ]] \
        || { echo "PostgreSQL's initdb or pg_basebackup is missing (package postgresql)" >&2; return 1; }
    pg_cluster_remove_stale
    PG_PAIR_DIR="$(mktemp -d /tmp/tarvo-pg.XXXXXX)"
    echo $$ >"$PG_PAIR_DIR/owner"
    if [[ $(id -u) -eq 0 ]]; then chown postgres "$PG_PAIR_DIR"; fi
    PG_PAIR_USER="$(if [[ $(id -u) -eq 0 ]]; then echo postgres; else id -un; fi)"
    PG_PRIMARY_DATA="$PG_PAIR_DIR/primary"
    PG_STANDBY_DATA="$PG_PAIR_DIR/standby"
    PG_PRIMARY_PORT="$(free_port)"
    PG_STANDBY_PORT="$(free_port)"
    while [[ "$PG_STANDBY_PORT" == "$PG_PRIMARY_PORT" ]]; do PG_STANDBY_PORT="$(free_port)"; done
    as_cluster_owner "$PG_BIN/initdb" -D "$PG_PRIMARY_DATA" -U "$PG_PAIR_USER" -A trust -E UTF8 \
        --locale=C >"$PG_PAIR_DIR/initdb.log" 2>&1 \
        || { cat "$PG_PAIR_DIR/initdb.log" >&2; return 1; }
    # The standby names itself "standby" (application_name below); FIRST 1 makes it the one
    # synchronous standby, so a commit is answered only once the standby has it on disk.
    cat >>"$PG_PRIMARY_DATA/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $PG_PRIMARY_PORT
unix_socket_directories = '$PG_PAIR_DIR'
max_connections = 200
wal_level = replica
synchronous_commit = on
synchronous_standby_names = 'FIRST 1 (standby)'
CONF
    local sudo_owner; sudo_owner="$(if [[ $(id -u) -eq 0 ]]; then echo runuser -u postgres --; fi)"
    PG_PRIMARY_CTL="$sudo_owner $PG_BIN/pg_ctl -D $PG_PRIMARY_DATA -l $PG_PAIR_DIR/primary.log -w"
    PG_STANDBY_CTL="$sudo_owner $PG_BIN/pg_ctl -D $PG_STANDBY_DATA -l $PG_PAIR_DIR/standby.log -w"
    pg_pair_start_on_free_port "$PG_PRIMARY_DATA" "$PG_PRIMARY_CTL" PG_PRIMARY_PORT || return 1
    # -R writes the standby's primary_conninfo from this connection, application_name included.
    as_cluster_owner "$PG_BIN/pg_basebackup" -D "$PG_STANDBY_DATA" -R -X stream \
        -d "host=$PG_PAIR_DIR port=$PG_PRIMARY_PORT user=$PG_PAIR_USER application_name=standby" \
        >"$PG_PAIR_DIR/basebackup.log" 2>&1 || { cat "$PG_PAIR_DIR/basebackup.log" >&2; return 1; }
    # The standby's copy of the primary's settings would make it, once promoted, wait at every
    # commit for a standby of its own that does not exist: promoted, it commits alone.
    printf "port = %s\nsynchronous_standby_names = ''\n" "$PG_STANDBY_PORT" \
        >>"$PG_STANDBY_DATA/postgresql.conf"
    pg_pair_start_on_free_port "$PG_STANDBY_DATA" "$PG_STANDBY_CTL" PG_STANDBY_PORT || return 1
    # Until the standby streams, every commit on the primary would wait for it.
    local state=""
    for _ in $(seq 1 300); do
        state="$("$PG_BIN/psql" -h "$PG_PAIR_DIR" -p "$PG_PRIMARY_PORT" -U "$PG_PAIR_USER" -d postgres \
            -XAtc "SELECT sync_state FROM pg_stat_replication WHERE application_name = 'standby'" \
            2>/dev/null || true)"
        [[ "$state" == sync ]] && break
        sleep 0.1
    done
    [[ "$state" == sync ]] || { echo "the standby did not become synchronous" >&2; cat "$PG_PAIR_DIR/standby.log" >&2; return 1; }
    PG_PAIR_URI="postgresql://$PG_PAIR_USER@127.0.0.1:$PG_PRIMARY_PORT,127.0.0.1:$PG_STANDBY_PORT/postgres?target_session_attrs=read-write&connect_timeout=2"
}

# pg_pair_start_on_free_port DATA CTL PORT_VARIABLE: on a shared machine another program may
# take the chosen port before the node binds it; the node then starts on another one (the
# last "port" line of postgresql.conf counts).
pg_pair_start_on_free_port() {
    local data=$1 ctl=$2 var=$3 log attempt
    log="$PG_PAIR_DIR/$(basename "$data").log"
    for attempt in 1 2 3 4 5; do
        $ctl start >/dev/null 2>&1 && return 0
        grep -q "Address already in use" "$log" || break
        printf -v "$var" '%s' "$(free_port)"
        echo "port = ${!var}" >>"$data/postgresql.conf"
        : >"$log"
    done
    cat "$log" >&2
    return 1
}

# psql on one node of the pair: pg_pair_psql primary|standby ARGS...
pg_pair_psql() {
    local port; port="$(if [[ "$1" == primary ]]; then echo "$PG_PRIMARY_PORT"; else echo "$PG_STANDBY_PORT"; fi)"
    shift
    "$PG_BIN/psql" -h "$PG_PAIR_DIR" -p "$port" -U "$PG_PAIR_USER" -d postgres -X "$@"
}

pg_pair_stop() {
    [[ -n "${PG_PAIR_DIR:-}" && -d "$PG_PAIR_DIR" ]] || return 0
    local data
    for data in "$PG_PRIMARY_DATA" "$PG_STANDBY_DATA"; do
        [[ -d "$data" ]] || continue
        # A node a test killed is no longer running: pg_ctl's refusal says just that.
        as_cluster_owner "$PG_BIN/pg_ctl" -D "$data" stop -m immediate >/dev/null 2>&1 || true
    done
    rm -rf "$PG_PAIR_DIR"
    PG_PAIR_DIR=""
}
