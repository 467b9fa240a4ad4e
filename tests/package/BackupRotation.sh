#!/usr/bin/env bash
# BackupRotation.sh BACKUP_SCRIPT WORK_DIR
# The packaged backup script with a stand-in for centervendor-server --db FILE --backup OUT:
# each run adds one dated copy and keeps the newest N; a failed backup or bad settings leave
# the kept copies as they were and no half-written file.
set -euo pipefail
script=$1 work=$2
rm -rf "$work" && mkdir -p "$work/backups"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The stand-in copies the database, or writes half of it and fails when told to.
cat >"$work/server" <<'STANDIN'
#!/bin/sh
[ "$1" = --db ] && [ "$3" = --backup ] || { echo "unexpected arguments: $*" >&2; exit 2; }
if [ -n "${STANDIN_FAIL:-}" ]; then head -c 3 "$2" >"$4"; exit 1; fi
cp "$2" "$4"
STANDIN
chmod +x "$work/server"
echo "assignments" >"$work/centers.db"
old=(centers-20250101T000000Z.db centers-20250102T000000Z.db centers-20250103T000000Z.db
     centers-20250104T000000Z.db)
for name in "${old[@]}"; do echo old >"$work/backups/$name"; done
touch "$work/backups/notes.txt"

run() {
    env CENTERVENDOR_SERVER="$work/server" CENTERVENDOR_BACKUP_DB="$work/centers.db" \
        CENTERVENDOR_BACKUP_DIR="$work/backups" "$@" "$script" >"$work/out" 2>&1
}
listing() { ls -A "$work/backups" | tr '\n' ' '; }

# Settings that are refused, and a failing backup: the folder stays as it was.
before=$(listing)
while IFS='|' read -r settings status; do
    rc=0
    run $settings || rc=$?
    ((rc == status)) || fail "$settings: exit status $rc, not $status: $(cat "$work/out")"
    [[ $(listing) == "$before" ]] || fail "$settings changed the backups: $(listing)"
done <<'CASES'
CENTERVENDOR_BACKUP_KEEP=0|2
CENTERVENDOR_BACKUP_KEEP=three|2
CENTERVENDOR_BACKUP_KEEP=-1|2
CENTERVENDOR_BACKUP_DB=postgresql://u@db/centervendor|2
CENTERVENDOR_BACKUP_DB=/nonexistent/centers.db|1
STANDIN_FAIL=1|1
CASES

# A good run keeps the newest three dated copies, the new one among them, and other files.
run CENTERVENDOR_BACKUP_KEEP=3 || fail "the backup failed: $(cat "$work/out")"
mapfile -t kept < <(ls "$work/backups" | grep '^centers-' | sort)
new=${kept[2]:-}
[[ ${#kept[@]} == 3 && ${kept[0]} == "${old[2]}" && ${kept[1]} == "${old[3]}" &&
   $new =~ ^centers-[0-9]{8}T[0-9]{6}Z\.db$ && $new > "${old[3]}" ]] ||
    fail "kept ${kept[*]}, not ${old[2]} ${old[3]} and a new dated copy"
cmp -s "$work/centers.db" "$work/backups/$new" || fail "the new copy $new differs from the database"
[[ -e $work/backups/notes.txt ]] || fail "a file that is no dated copy was removed"
((failures == 0))
