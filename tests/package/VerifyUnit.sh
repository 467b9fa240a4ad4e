#!/usr/bin/env bash
# VerifyUnit.sh SYSTEMD_ANALYZE SERVER_DEB WORK_DIR
# systemd-analyze verify on the packaged service unit. The unit starts /usr/bin/..., which is
# not installed here, so the copy checked starts the unpacked program instead.
set -euo pipefail
analyze=$1 package=$2 work=$3
rm -rf "$work" && mkdir -p "$work/root"
dpkg-deb -x "$package" "$work/root"
unit=centervendor-server.service
sed "s|^ExecStart=/|ExecStart=$work/root/|" "$work/root/lib/systemd/system/$unit" >"$work/$unit"
# Any message (an unknown key, a bad value) is a fault even where the exit status is 0.
messages=$("$analyze" verify --man=no "$work/$unit" 2>&1) || { echo "$messages"; exit 1; }
[[ -z $messages ]] || { echo "$messages"; exit 1; }
