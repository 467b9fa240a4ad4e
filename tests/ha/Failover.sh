#!/usr/bin/env bash
# Failover.sh SERVER PGCLUSTER_SH WORK_DIR
# One server on a multi-host URI in front of a primary and its synchronous standby. Clients
# commit batches and never send one again, whatever the answer; the primary is killed with
# SIGKILL and the standby promoted. Every batch answered 200 must be on the promoted node,
# none applied twice or in part, commits must resume within 10 s of the promotion, /healthz
# must go 503 and back to 200, and the server must keep running. Prints the gap (SIGKILL to
# the first 200 after the promotion) and the batches answered 200, 503 and lost.
set -euo pipefail
server_bin=$1 pgcluster=$2 work=$3
source "$pgcluster"

RESUME_LIMIT_MS=10000
rm -rf "$work" && mkdir -p "$work"
children=()
cleanup() {
    touch "$work/stop"
    for pid in "${children[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    pg_pair_stop
}
trap cleanup EXIT
source "$(dirname "$0")/Helpers.sh"

pg_pair_start

"$server_bin" --db "$PG_PAIR_URI" --sample --listen 127.0.0.1:0 \
    >"$work/server.out" 2>"$work/server.log" &
server_pid=$!
children+=("$server_pid")
until_true 30 grep -q '^listening on ' "$work/server.out" || { cat "$work/server.log" >&2; exit 1; }
base=$(sed -n 's/^listening on //p' "$work/server.out")

# One client per center that has assignments; each updates two assignments of its own
# center, so clients never wait for each other. A batch's fee encodes client and sequence
# number, so the audit rows on the promoted node tell which batches were applied, and how often.
mapfile -t rows < <(pg_pair_psql primary -Atc "
    SELECT CenterID, string_agg(VendorID::text, ' ' ORDER BY VendorID) FROM (
        SELECT CenterID, VendorID,
               row_number() OVER (PARTITION BY CenterID ORDER BY VendorID) AS n
        FROM VendorCenterCrossReference) a
    WHERE n <= 2 GROUP BY CenterID HAVING count(*) = 2 ORDER BY CenterID")
((${#rows[@]} >= 3)) || { echo "the sample has too few centers with two assignments" >&2; exit 1; }

client() {
    local k=$1 center=$2 v1=$3 v2=$4 seq=0 code fee t0 t1
    while [[ ! -e "$work/stop" ]]; do
        seq=$((seq + 1))
        fee=$(printf '0.%07d' $((k * 100000 + seq)))
        t0=$(now_ms)
        # --max-time only ends a request the server never answers; nothing is sent again.
        code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 30 \
            --data-urlencode "SQL=UPDATE VendorCenterCrossReference SET CenterHandlingFee = $fee, DutyBrokerageFee = 0, RecordLastUpdated = GETDATE() WHERE VendorID = $v1 AND CenterID = $center" \
            --data-urlencode "SQL=UPDATE VendorCenterCrossReference SET CenterHandlingFee = $fee, DutyBrokerageFee = 1, RecordLastUpdated = GETDATE() WHERE VendorID = $v2 AND CenterID = $center" \
            "$base/CenterVendor.asp" || true)
        t1=$(now_ms)
        echo "$((k * 100000 + seq)) $code $t0 $t1" >>"$work/client$k"
    done
}

health() {
    local code
    while [[ ! -e "$work/stop" ]]; do
        code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 2 "$base/healthz" || true)
        echo "$(now_ms) $code" >>"$work/health"
        sleep 0.05
    done
}

health &
children+=($!)
k=0
for row in "${rows[@]:0:4}"; do
    k=$((k + 1))
    read -r center v1 v2 <<<"${row//|/ }"
    client "$k" "$center" "$v1" "$v2" &
    children+=($!)
done
clients=$k

# count_since CODE MS: answers with CODE to requests sent after MS, over all clients.
count_since() { cat "$work"/client* 2>/dev/null | awk -v c="$1" -v t="$2" '$2 == c && $3 > t' | wc -l; }
load_runs() { (($(count_since 200 0) >= 20 * clients)); }
until_true 60 load_runs || { fail "the load did not get going"; exit 1; }

primary_pid=$(head -1 "$PG_PRIMARY_DATA/postmaster.pid")
backends=$(ps -o pid= --ppid "$primary_pid" | tr '\n' ' ')
killed_at=$(now_ms)
# The whole primary at once, as when its machine dies.
kill -KILL "$primary_pid" $backends

health_is() { tail -1 "$work/health" | awk -v c="$1" -v t="$killed_at" '$1 > t && $2 == c' | grep -q .; }
until_true 10 health_is 503 || fail "/healthz did not answer 503 after the primary was killed"
promoted_at=$(now_ms)
$PG_STANDBY_CTL promote >/dev/null || { fail "pg_ctl promote failed"; exit 1; }
until_true 10 health_is 200 || fail "/healthz did not answer 200 after the promotion"
resumed() { (($(count_since 200 "$promoted_at") >= 5 * clients)); }
until_true 15 resumed || fail "commits did not resume after the promotion"
touch "$work/stop"
for pid in "${children[@]:1}"; do wait "$pid" 2>/dev/null || true; done

kill -0 "$server_pid" 2>/dev/null || fail "the server exited: $(tail -5 "$work/server.log")"

cat "$work"/client* | sort >"$work/answers"
first_after=$(awk -v t="$killed_at" '$2 == 200 && $3 > t {print $4}' "$work/answers" | sort -n | head -1)
[[ -n $first_after ]] || { fail "no batch was answered 200 after the kill"; exit 1; }
gap=$((first_after - killed_at))
resume=$((first_after - promoted_at))
((resume <= RESUME_LIMIT_MS)) || fail "commits resumed $resume ms after the promotion (limit $RESUME_LIMIT_MS)"
health_back=$(awk -v t="$promoted_at" '$1 > t && $2 == 200 {print $1; exit}' "$work/health")

# What the promoted node holds: batch number and how many statements of it were applied.
pg_pair_psql standby -Atc "SELECT round(HandlingFee * 1e7)::bigint, count(*) FROM AssignmentAudit
    WHERE Action = 'update' AND HandlingFee < 0.1 GROUP BY 1" | tr '|' ' ' | sort >"$work/applied"
# answers: batch, answer code, sent and answered (ms); joined: batch, answer code, statements
# applied (0 when none). Batch numbers have six digits, so join's text order is theirs.
join -a1 -e 0 -o 1.1,1.2,2.2 "$work/answers" "$work/applied" >"$work/joined"
read -r ok unavailable lost other missing twice partial applied503 < <(awk '
    { n[$2]++ }
    $2 != 200 && $2 != 503 && $2 != "000" { other++ }
    $2 == 200 && $3 == 0 { missing++ }
    $3 > 2 { twice++ }
    $3 == 1 { partial++ }
    $2 != 200 && $3 == 2 { late++ }
    END { print n[200]+0, n[503]+0, n["000"]+0, other+0, missing+0, twice+0, partial+0, late+0 }
    ' "$work/joined")
# A 503 to a batch sent after commits had resumed means a request met a broken connection
# to the dead primary after a working one had been found.
reused=$(awk -v t="$first_after" '$2 == 503 && $3 > t' "$work/answers" | wc -l)
unknown=$(join -v2 "$work/answers" "$work/applied" | wc -l)

echo "clients: $clients; batches answered 200: $ok, 503: $unavailable, lost: $lost, other: $other"
echo "gap from SIGKILL to the first 200: $gap ms; from the promotion: $resume ms;" \
    "/healthz 200 again $((${health_back:-0} - promoted_at)) ms after the promotion"
echo "batches answered otherwise but applied: $applied503; 503 to batches sent after commits resumed: $reused"
((missing == 0)) || fail "$missing batches answered 200 are not on the promoted node"
((twice == 0)) || fail "$twice batches were applied more than once"
((partial == 0)) || fail "$partial batches were applied in part"
((unknown == 0)) || fail "$unknown applied batches were never sent"
((lost == 0)) || fail "$lost batches got no answer"
((other == 0)) || fail "$other batches got an answer other than 200 or 503"
((reused == 0)) || fail "$reused batches sent after commits resumed got 503 (a broken pooled connection reused)"
grep -q ' 503$' "$work/health" || fail "/healthz never answered 503"
((failures == 0)) || { tail -20 "$work/server.log" >&2; exit 1; }
