#!/usr/bin/env bash
# leak-params.sh [SERVER [REQUESTS [PARAMS]]]
# The server's resident memory (VmRSS) before and after REQUESTS (10000) GETs of the page with
# PARAMS (600) query parameters "a=1" each, sent in four rounds by curl, 40 connections at a
# time. A request not answered within 0.5 s is given up (its connection closed), since a
# server that never answers would otherwise hold the run. Prints the RSS after each round, how
# the requests ended (status, or curl's exit code: 28 no answer in time, 52 closed without
# an answer), the server's log lines by kind, and whether it still answers /healthz.
# Run from the worktree: bench/server/leak-params.sh build/server/centervendor-server
set -euo pipefail
server_bin=${1:-build/server/centervendor-server}
requests=${2:-10000}
params=${3:-600}
rounds=4 connections=40 cap=0.5

work=$(mktemp -d)
server_pid=
cleanup() {
    [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

"$server_bin" --db "$work/db.sqlite" --sample --listen 127.0.0.1:0 >"$work/out" 2>"$work/log" &
server_pid=$!
for _ in $(seq 100); do
    grep -q '^listening on ' "$work/out" && break
    sleep 0.1
done
base=$(sed -n 's/^listening on //p' "$work/out")
[[ -n $base ]] || { cat "$work/log" >&2; exit 1; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$server_pid/status"; }

query=$(printf 'a=1&%.0s' $(seq "$params"))
url="$base/CenterVendor.asp?${query%&}"
per_round=$((requests / rounds))
{
    echo 'write-out = "status %{http_code}, curl exit %{exitcode}\n"'
    echo "max-time = $cap"
    for _ in $(seq "$per_round"); do
        echo "url = \"$url\""
        echo 'output = "/dev/null"'
    done
} >"$work/curl.cfg"

curl -s -o /dev/null "$base/healthz"
before=$(rss_kib)
echo "requests: $requests of $params parameters (${#url} bytes of URL), $connections connections at a time, each given up after $cap s"
echo "VmRSS before: $before KiB"
sent=0
for round in $(seq "$rounds"); do
    curl -s --parallel --parallel-immediate --parallel-max "$connections" -K "$work/curl.cfg" >>"$work/codes" 2>/dev/null ||
        true
    sent=$((sent + per_round))
    if ! kill -0 "$server_pid" 2>/dev/null; then
        echo "the server exited during round $round"
        break
    fi
    echo "VmRSS after $sent: $(rss_kib) KiB"
done
if kill -0 "$server_pid" 2>/dev/null; then
    after=$(rss_kib)
    echo "VmRSS growth: $((after - before)) KiB ($(((after - before) * 1024 / sent)) bytes per request)"
    echo "/healthz afterwards: $(curl -s -o /dev/null -w '%{http_code}' --max-time 5 "$base/healthz")"
fi
echo "how the requests ended (status 000: no answer):"
sort "$work/codes" | uniq -c | sed 's/^/    /'
echo "server log lines by kind (ids and times left out):"
sed -E 's/ [0-9.]+ ms / /; s/ id=[0-9a-f]+//' "$work/log" | sort | uniq -c | sort -rn | head -10 |
    sed 's/^/    /'
