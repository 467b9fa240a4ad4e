#!/usr/bin/env bash
# ProxyFraming.sh SERVER HAPROXY SHIPPED_CFG WORK_DIR
# HAProxy with the shipped configuration (only the backend addresses changed) in front of one
# server. Requests whose Transfer-Encoding is folded or carries a bare CR, with a second request
# hidden in what a chunked reader takes for a chunk, go through HAProxy as raw bytes. The server
# must never answer the hidden request; HAProxy must either refuse with 400 itself or pass on
# exactly one request. Prints what HAProxy did with each, and what the server alone does with
# the same bytes.
set -euo pipefail
export LC_ALL=C # read -N counts bytes
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
trap '' PIPE
source "$(dirname "$0")/Helpers.sh"

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

# send PORT BYTES: the raw bytes (printf %b escapes) on a new connection; prints the first
# answer (its head and Content-Length body) or what came before the peer closed or 5 s passed.
# The connection stays open until then, so that the server would serve a request it found
# after the visible one.
send() {
    local line length=0 body=
    exec 3<>"/dev/tcp/127.0.0.1/$1"
    printf '%b' "$2" >&3 2>/dev/null || true # a peer that refuses may close before the end
    while IFS= read -r -t 5 line <&3; do
        printf '%s\n' "$line"
        [[ $line == $'\r' ]] && break
        [[ ${line,,} =~ ^content-length:\ *([0-9]+) ]] && length=${BASH_REMATCH[1]}
    done
    ((length == 0)) || read -r -t 5 -N "$length" body <&3 || true
    printf '%s' "$body"
    exec 3<&-
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
visible='POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\n'
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
    [[ -n $status ]] || fail "$name: no answer came back"
done

# Any line at all: the server took the hidden bytes for a request, answered or refused.
hidden_read=$(log_count GET)
((hidden_read == 0)) || fail "the server read the hidden request $hidden_read times"

# The same bytes sent to the server alone, as a plain proxy that passed them on would: said,
# not asserted, since it describes the server rather than the shipped configuration.
for entry in "${cases[@]:0:4}"; do
    name=${entry%%|*} rest=${entry#*|}
    answered() { grep -c '^GET /CenterVendor.asp .* status=[0-9]' "$work/server.log" || true; }
    gets=$(answered)
    send "$port" "$visible$rest" >/dev/null
    fence
    if (($(answered) > gets)); then
        echo "$name, sent to the server directly: the server answered the hidden request"
    else
        echo "$name, sent to the server directly: the hidden request was not answered"
    fi
done

((failures == 0)) || { tail -20 "$work/server.log" >&2; exit 1; }
