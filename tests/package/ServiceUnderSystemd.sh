#!/usr/bin/env bash
# ServiceUnderSystemd.sh SERVER_DEB WORK_DIR
# The packaged service as systemd runs it: a Debian 12 container booted with systemd-nspawn -b,
# the server package installed in it. Checks that the package installs (the service enabled,
# the backup timer not), that the service starts as its user and answers, reloads, is started
# again after a SIGKILL and stops cleanly, that a client that sent half a request head does
# not hold the stop, and measures systemd-analyze security's exposure; then that readiness and
# STATUS= come through sd_notify (Type=notify), that systemctl reports a start refused on a bad
# option, and that the backup service writes a copy of the database the running server uses.
#
# The Debian root file system is made once by debootstrap from the machine's own Debian
# mirror and kept in TARVO_NSPAWN_CACHE (default /var/cache/tarvo-nspawn) with the packages
# apt fetched, so later runs need no network. Exits 77 after one line saying why when the
# machine cannot boot a container.
set -euo pipefail
deb=$1 work=$2
cache=${TARVO_NSPAWN_CACHE:-/var/cache/tarvo-nspawn}
unit=centervendor-server.service
timer=centervendor-server-backup.timer

cannot() { echo "the service test cannot run here: $*"; exit 77; }
[[ $(id -u) -eq 0 ]] || cannot "booting a container needs root"
for tool in systemd-nspawn debootstrap nsenter mount; do
    command -v "$tool" >/dev/null || cannot "$tool is not installed"
done
[[ -f $deb ]] || { echo "no package at $deb" >&2; exit 1; }

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
step_started=$(now_ms)
took() { local t; t=$(now_ms); echo "$1: $((t - step_started)) ms"; step_started=$t; }

# The machine's configured Debian mirror, from deb822 sources or a sources.list line.
mirror() {
    local uri
    uri=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' /etc/apt/sources.list.d/*.sources \
        2>/dev/null | grep -v security | head -1)
    [[ -n $uri ]] || uri=$(awk '$1 == "deb" && $2 !~ /security/ {print $2; exit}' \
        /etc/apt/sources.list 2>/dev/null)
    echo "${uri:-http://deb.debian.org/debian}"
}

base=$cache/bookworm
mkdir -p "$cache/archives/partial"
exec 9>"$cache/lock"
flock 9 # runs in other build trees share the cache
if [[ ! -d $base ]]; then
    rm -rf "$base.partial"
    debootstrap --variant=minbase --include=systemd-sysv,dbus,curl,adduser,procps \
        bookworm "$base.partial" "$(mirror)" >"$cache/debootstrap.log" 2>&1 ||
        cannot "debootstrap from $(mirror) failed (see $cache/debootstrap.log)"
    mv "$base.partial" "$base"
    took "debootstrap of Debian 12"
fi

# The run's root is an overlay on the cached one, which stays as debootstrap left it.
# A run that was killed may have left its overlay mounted, which rm cannot remove.
umount "$work/root" 2>/dev/null || true
rm -rf "$work" && mkdir -p "$work/upper" "$work/overlay-work" "$work/root"
nspawn_pid=""
cleanup() {
    if [[ -n $nspawn_pid ]] && kill -0 "$nspawn_pid" 2>/dev/null; then
        kill -KILL "$nspawn_pid" 2>/dev/null || true
        wait "$nspawn_pid" 2>/dev/null || true
    fi
    umount "$work/root" 2>/dev/null || true
    flock -u 9
}
trap cleanup EXIT
mount -t overlay overlay \
    -o "lowerdir=$base,upperdir=$work/upper,workdir=$work/overlay-work" "$work/root" ||
    cannot "an overlay file system cannot be mounted on $work/root"
root=$work/root

# Installed without booting, on the machine's network so that apt fetches the dependencies;
# the packages fetched stay in the cache for the next run.
# Not below /tmp, which systemd-nspawn covers with a tmpfs of its own.
cp "$deb" "$root/root/centervendor-server.deb"
systemd-nspawn --register=no --keep-unit -q -D "$root" --bind="$cache/archives:/var/cache/apt/archives" \
    env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    /root/centervendor-server.deb >"$work/install.log" 2>&1 ||
    { tail -20 "$work/install.log" >&2; fail "the package did not install"; exit 1; }
took "installation"
[[ -L $root/etc/systemd/system/multi-user.target.wants/$unit ]] ||
    fail "the installation did not enable $unit"
[[ ! -e $root/etc/systemd/system/timers.target.wants/$timer ]] ||
    fail "the installation enabled $timer, which is the administrator's choice"

# Booted without standard input and a network of its own; its console goes to a file.
systemd-nspawn --register=no --keep-unit --private-network -q -D "$root" -b \
    --console=read-only </dev/null >"$work/console.log" 2>&1 &
nspawn_pid=$!
leader=""
for _ in $(seq 1 100); do
    leader=$(ps -o pid= --ppid "$nspawn_pid" | tr -d " " | head -1 || true)
    [[ -n $leader && $(cat "/proc/$leader/comm" 2>/dev/null) == systemd ]] && break
    leader=""
    kill -0 "$nspawn_pid" 2>/dev/null || break
    sleep 0.1
done
[[ -n $leader ]] || cannot "systemd-nspawn did not boot the container: $(tail -3 "$work/console.log")"
inside() { nsenter --target "$leader" --mount --uts --ipc --net --pid -- "$@"; }
# systemctl answers once systemd's private socket exists; then it waits for the boot to end.
for _ in $(seq 1 300); do
    inside test -S /run/systemd/private && break
    sleep 0.1
done
state=$(inside timeout 90 systemctl is-system-running --wait 2>&1 || true)
took "boot"
[[ $state == running ]] ||
    fail "the container reached \"$state\": $(inside systemctl --failed --no-legend 2>&1)"

# until_inside SECONDS COMMAND...: runs COMMAND in the container every 100 ms until it succeeds.
until_inside() {
    local deadline=$(($(now_ms) + $1 * 1000))
    shift
    until inside "$@" >/dev/null 2>&1; do
        (($(now_ms) < deadline)) || return 1
        sleep 0.1
    done
}
answers() { until_inside "$1" curl -fsS --max-time 2 http://127.0.0.1:8080/healthz; }
main_pid() { inside systemctl show -P MainPID "$unit"; }

# Started at boot, as its user, answering.
answers 20 || fail "the service does not answer: $(inside systemctl status --no-pager "$unit" 2>&1 | tail -5)"
pid=$(main_pid)
user=$(inside ps -o user= -p "$pid" | tr -d ' ')
[[ $user == centervendor ]] || fail "the server runs as \"$user\", not centervendor"
took "service answering"

# A reload keeps the process and its answers.
inside systemctl reload "$unit" || fail "systemctl reload $unit failed"
[[ $(main_pid) == "$pid" ]] || fail "the reload replaced the process"
answers 5 || fail "the service does not answer after a reload"

# After a SIGKILL systemd starts it again.
inside systemctl kill --signal=KILL "$unit"
restarted() { local p; p=$(main_pid); [[ $p != 0 && $p != "$pid" ]]; }
until_restarted() {
    local deadline=$(($(now_ms) + 10000))
    until restarted; do (($(now_ms) < deadline)) || return 1; sleep 0.1; done
}
until_restarted && answers 10 || fail "the service was not started again after a SIGKILL"
took "restart after SIGKILL"

# A stop ends the service cleanly; a client that sent half a request head does not hold it.
inside bash -c 'exec 3<>/dev/tcp/127.0.0.1/8080
    printf "GET /healthz HTTP/1.1\r\nHost: x\r\n" >&3; echo $$ >/run/half-head; exec sleep 60' 2>/dev/null &
# Out of the job table and quiet: its end by SIGTERM below is expected.
disown $!
until_inside 5 test -s /run/half-head || fail "no connection for the half-sent head"
stop_started=$(now_ms)
inside systemctl stop "$unit" || fail "systemctl stop $unit failed"
stop_ms=$(($(now_ms) - stop_started))
inside sh -c 'kill "$(cat /run/half-head)"' || true
result=$(inside systemctl show -P Result "$unit")
active=$(inside systemctl show -P ActiveState "$unit")
[[ $active == inactive && $result == success ]] ||
    fail "after the stop the service is $active with result $result"
echo "stop with a half-sent request head open: $stop_ms ms"
step_started=$(now_ms)

# The sandbox, as systemd rates it (0 best, 10 worst); a change that opens it fails here.
while read -r rated limit; do
    exposure=$(inside systemd-analyze security "$rated" 2>&1 |
        sed -n 's/.*Overall exposure level for [^:]*: *\([0-9.]*\).*/\1/p')
    echo "systemd-analyze security $rated: $exposure"
    awk -v e="$exposure" -v l="$limit" 'BEGIN { exit !(e != "" && e <= l) }' ||
        fail "$rated has an exposure of \"$exposure\", over $limit"
done <<'UNITS'
centervendor-server.service 1.6
centervendor-server-backup.service 0.8
UNITS

((stop_ms < 3000)) || fail "a half-sent request head held the stop for $stop_ms ms"

# Type=notify: the start returns once the server listens, and STATUS= says what it does.
inside systemctl start "$unit" || fail "systemctl start $unit failed"
took "start until ready"
[[ $(inside systemctl show -P Type "$unit") == notify ]] || fail "$unit is not Type=notify"
status_text=$(inside systemctl show -P StatusText "$unit")
echo "STATUS= while serving: $status_text"
[[ $status_text == Serving* ]] || fail "the server sends no STATUS= saying it serves"
answers 5 || fail "the service does not answer once started"
# A bad option: systemctl reports the failed start.
options=$(inside cat /etc/default/centervendor-server)
inside sh -c 'echo CENTERVENDOR_SERVER_OPTIONS=--no-such-option >>/etc/default/centervendor-server'
if inside systemctl restart "$unit" 2>/dev/null; then
    fail "systemctl restart returned 0 for a server started with a bad option"
fi
took "restart refused on a bad option"
printf '%s\n' "$options" | inside sh -c 'cat >/etc/default/centervendor-server'
inside systemctl reset-failed "$unit"
inside systemctl start "$unit" && answers 10 || fail "the service did not start again"
# The backup service writes a dated copy of the database the running server uses.
inside systemctl start centervendor-server-backup.service ||
    fail "the backup service failed: $(inside journalctl -u centervendor-server-backup --no-pager | tail -5)"
inside sh -c 'ls /var/lib/centervendor/backups/centers-*.db' >/dev/null 2>&1 ||
    fail "the backup service wrote no copy"
took "backup service"

# The container's systemd powers off, and systemd-nspawn ends with it.
inside systemctl --no-block start poweroff.target || fail "the container did not begin to power off"
for _ in $(seq 1 300); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$nspawn_pid" 2>/dev/null; then fail "the container did not shut down"; fi
wait "$nspawn_pid" 2>/dev/null || true
nspawn_pid=""
took "shutdown"
((failures == 0))
