#!/usr/bin/env bash
# CheckPackages.sh PACKAGE_DIR VERSION MULTIARCH_TRIPLET DESIGNER_PLUGIN_DIR WORK_DIR
# Reads each package with dpkg-deb: the files it must hold, the dependencies it must declare,
# no file in two packages, the options file kept as a conffile, and a server that reports the
# packaged version. Installs nothing.
set -euo pipefail
dir=$1 version=$2 triplet=$3 designer=${4#/} work=$5
arch=$(dpkg --print-architecture)
major=${version%%.*}
lib=usr/lib/$triplet
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
deb() { echo "$dir/${1}_${version}_${arch}.deb"; }

# check PACKAGE "FILES" "DEPENDS": DEPENDS entries are NAME (any version) or NAME=VERSION.
check() {
    local package=$1 files=$2 depends=$3 file entry
    local path; path=$(deb "$package")
    [[ -f $path ]] || { fail "$package: $path is missing"; return; }
    local contents; contents=$(dpkg-deb --contents "$path" | awk '{print $6}' | sed 's|^\./||')
    for file in $files usr/share/doc/$package/copyright usr/share/doc/$package/changelog.gz; do
        grep -qxF "$file" <<<"$contents" || fail "$package does not hold $file"
    done
    local declared; declared=$(dpkg-deb --field "$path" Depends | sed 's/, /\n/g')
    for entry in $depends; do
        if [[ $entry == *=* ]]; then
            grep -qxF "${entry%%=*} (= ${entry#*=})" <<<"$declared" ||
                fail "$package does not depend on ${entry%%=*} (= ${entry#*=}): $declared"
        else
            grep -qE "^$entry( |$)" <<<"$declared" || fail "$package does not depend on $entry"
        fi
    done
    grep -v '/$' <<<"$contents" >>"$work/all-files"
}

rm -rf "$work" && mkdir -p "$work"
runtime=libtarvocentervendor$major
check "$runtime" "$lib/libTarvoCenterVendor.so.$major $lib/libTarvoCenterVendor.so.$version" \
    "libqt6widgets6 libcurl4 libpugixml1v5"
check libtarvocentervendor-dev "usr/include/TarvoCenterVendor/CenterVendor.h
    usr/include/TarvoCenterVendor/TarvoCenterVendorExport.h $lib/libTarvoCenterVendor.so
    $lib/cmake/TarvoCenterVendor/TarvoCenterVendorConfig.cmake
    $lib/cmake/TarvoCenterVendor/TarvoCenterVendorConfigVersion.cmake
    $lib/cmake/TarvoCenterVendor/TarvoCenterVendorTargets.cmake" "$runtime=$version qt6-base-dev"
check tarvocentervendor-designer "$designer/libtarvocentervendorplugin.so" "$runtime=$version"
check centervendor-server "usr/bin/centervendor-server lib/systemd/system/centervendor-server.service
    lib/systemd/system/centervendor-server-backup.service
    lib/systemd/system/centervendor-server-backup.timer
    usr/lib/centervendor-server/centervendor-server-backup
    etc/default/centervendor-server usr/share/man/man1/centervendor-server.1.gz" "adduser libsqlite3-0 libsystemd0"
check centervendor-desk "usr/bin/centervendor-desk usr/share/man/man1/centervendor-desk.1.gz
    usr/share/applications/com.tarvo.CenterVendorDesk.desktop
    usr/share/icons/hicolor/scalable/apps/com.tarvo.CenterVendorDesk.svg
    usr/share/metainfo/com.tarvo.CenterVendorDesk.metainfo.xml" \
    "$runtime=$version libqt6widgets6"

duplicates=$(sort "$work/all-files" | uniq -d)
[[ -z $duplicates ]] || fail "files in more than one package: $duplicates"

dpkg-deb --info "$(deb centervendor-server)" conffiles | grep -qxF /etc/default/centervendor-server ||
    fail "/etc/default/centervendor-server is not a conffile, so an upgrade would overwrite it"

dpkg-deb -x "$(deb centervendor-server)" "$work/server"
reported=$("$work/server/usr/bin/centervendor-server" --version)
[[ $reported == "centervendor-server $version" ]] ||
    fail "the packaged server reports \"$reported\", not version $version"

((failures == 0))
