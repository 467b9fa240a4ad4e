#!/usr/bin/env bash
# VerifyUnit.sh SYSTEMD_ANALYZE SERVER_DEB WORK_DIR
# systemd-analyze verify on each packaged unit (the service, the backup service and its timer).
# The units start programs below /usr, which are not installed here, so the copies checked
# start the unpacked programs instead.
set -euo pipefail
analyze=$1 package=$2 work=$3
rm -rf "$work" && mkdir -p "$work/root" "$work/units"
dpkg-deb -x "$package" "$work/root"
units=(centervendor-server.service centervendor-server-backup.service
    centervendor-server-backup.timer)
for unit in "${units[@]}"; do
    sed "s|^ExecStart=/|ExecStart=$work/root/|" "$work/root/lib/systemd/system/$unit" \
        >"$work/units/$unit"
done
# Any message (an unknown key, a bad value) is a fault even where the exit status is 0.
for unit in "${units[@]}"; do
    messages=$("$analyze" verify --man=no "$work/units/$unit" 2>&1) || { echo "$messages"; exit 1; }
    [[ -z $messages ]] || { echo "$unit: $messages"; exit 1; }
done
