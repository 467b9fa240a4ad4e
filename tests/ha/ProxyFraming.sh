#!/usr/bin/env bash
# ProxyFraming.sh SERVER HAPROXY SHIPPED_CFG WORK_DIR
# HAProxy with the shipped configuration (only the backend addresses changed) in front of one
# server. Requests whose Transfer-Encoding is folded or carries a bare CR, with a second request
# hidden in what a chunked reader takes for a chunk, go through HAProxy as raw bytes. The server
# must never answer the hidden request; HAProxy must either refuse with 400 itself or pass on
# exactly one request. Prints what HAProxy did with each, and what the server alone does with
# the same bytes.
set -euo pipefail
server_bin=$1 haproxy_bin=$2 shipped_cfg=$3 work=$4

# The shipped configuration binds :80 and keeps its stats socket in /run/haproxy: a network and
# mount namespace of the test's own gives it both without touching the machine's.
if [[ ${PROXY_FRAMING_INSIDE:-} != 1 ]]; then
    if ! unshare --net --mount true 2>/dev/null; then
        echo "SKIP: needs unshare --net --mount (root)" >&2
        exit 77
    fi
    PROXY_FRAMING_INSIDE=1 exec unshare --net --mount "$0" "$@"
fi
ip link set lo up
mkdir -p /run/haproxy /var/lib/haproxy
mount -t tmpfs tmpfs /run/haproxy

rm -rf "$work" && mkdir -p "$work"
children=()
cleanup() {
    for pid in "${children[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
until_true() {
    local deadline=$(($(now_ms) + $1 * 1000))
    shift
    until "$@"; do
        (($(now_ms) < deadline)) || return 1
        sleep 0.05
    done
}

"$server_bin" --db "$work/db.sqlite" --sample --listen 127.0.0.1:0 \
    >"$work/server.out" 2>"$work/server.log" &
children+=($!)
until_true 10 grep -q '^listening on ' "$work/server.out" || { cat "$work/server.log" >&2; exit 1; }
port=$(sed -n 's/^listening on http:\/\/127\.0\.0\.1://p' "$work/server.out")

sed -e "s/10\.0\.0\.11:8080/127.0.0.1:$port/" -e "s/10\.0\.0\.12:8080/127.0.0.1:$port/" \
    "$shipped_cfg" >"$work/haproxy.cfg"
# -db keeps HAProxy in the foreground, whatever the configuration's "daemon" says.
"$haproxy_bin" -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
children+=($!)
proxy_up() { [[ $(curl -s -o /dev/null -w '%{http_code}' --max-time 1 http://127.0.0.1:80/healthz) == 200 ]]; }
until_true 10 proxy_up || { cat "$work/haproxy.log" >&2; fail "HAProxy did not pass /healthz on"; exit 1; }

# send PORT BYTES: the raw bytes (printf %b escapes) on a new connection; prints everything
# that comes back until the peer closes or 5 s pass.
send() {
    local answer
    exec 3<>"/dev/tcp/127.0.0.1/$1"
    printf '%b' "$2" >&3
    answer=$(timeout 5 cat <&3 | tr -d '\0' || true)
    exec 3<&-
    printf '%s' "$answer"
}
log_count() { grep -c "^$1 /CenterVendor.asp " "$work/server.log" || true; }
# A HEAD through the server's own workers, after the case's bytes: once its line is in the log,
# a request the server had read from those bytes has been answered and logged too.
fence() {
    local before
    before=$(log_count HEAD)
    curl -s -I -o /dev/null --max-time 5 "http://127.0.0.1:$port/CenterVendor.asp?centers=1"
    fenced() { (($(log_count HEAD) > before)); }
    until_true 5 fenced || fail "the fence request was not logged"
}

hidden='GET /CenterVendor.asp?count=1&centerID=1 HTTP/1.1\r\nHost: x\r\n\r\n'
size=$(printf '%x' "$(printf '%b' "$hidden" | wc -c)")
# As a chunked reader sees it: one chunk holding the hidden request, then the last chunk. As a
# Content-Length reader sees it: a body of the chunk-size line alone, then the hidden request.
smuggled() { printf '%s' "Content-Length: $((${#size} + 2))\r\n$1\r\n$size\r\n$hidden\r\n0\r\n\r\n"; }
visible='POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\nConnection: close\r\n'
# name | the visible POST's remaining header lines and its body, as printf %b escapes
cases=(
    "folded Transfer-Encoding|$(smuggled 'Transfer-Encoding:\r\n chunked\r\n')"
    "folded Transfer-Encoding, tab|$(smuggled 'Transfer-Encoding:\r\n\tchunked\r\n')"
    "bare CR after the colon|$(smuggled 'Transfer-Encoding:\rchunked\r\n')"
    "bare CR ending the value|$(smuggled 'Transfer-Encoding: chunked\r\r\n')"
    "folded X-Note, no body|X-Note: a\r\n b\r\nContent-Length: 0\r\n\r\n"
)

for entry in "${cases[@]}"; do
    name=${entry%%|*} rest=${entry#*|}
    posts=$(log_count POST)
    answer=$(send 80 "$visible$rest")
    fence
    passed=$(($(log_count POST) - posts))
    answers=$(grep -c '^HTTP/1\.[01] [0-9][0-9][0-9]' <<<"$answer" || true)
    status=$(head -1 <<<"$answer" | cut -d' ' -f2)
    case $passed in
    0)
        echo "$name: HAProxy answered ${status:-nothing} itself; nothing reached the server"
        [[ $status == 400 ]] || fail "$name: HAProxy kept the request from the server but answered '${status:-nothing}', not 400"
        ;;
    1)
        echo "$name: HAProxy passed one request on; the server answered $status"
        ;;
    *) fail "$name: the server answered $passed POST requests for one" ;;
    esac
    ((answers == 1)) || fail "$name: the client got $answers answers for one request"
done

hidden_answered=$(log_count GET)
((hidden_answered == 0)) || fail "the server answered the hidden request $hidden_answered times"

# The same bytes sent to the server alone, as a plain proxy that passed them on would: said,
# not asserted, since it describes the server rather than the shipped configuration.
for entry in "${cases[@]:0:4}"; do
    name=${entry%%|*} rest=${entry#*|}
    gets=$(log_count GET)
    send "$port" "${visible/Connection: close\\r\\n/}$rest" >/dev/null
    fence
    if (($(log_count GET) > gets)); then
        echo "$name, sent to the server directly: the server answered the hidden request"
    else
        echo "$name, sent to the server directly: the hidden request was not answered"
    fi
done

((failures == 0)) || { tail -20 "$work/server.log" >&2; exit 1; }
