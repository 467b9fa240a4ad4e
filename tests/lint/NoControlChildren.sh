#!/usr/bin/env bash
# Fails when a host part of the project reaches into the control: desk/ and designer/ use only
# the public header, so they never look a child widget up (findChild, findChildren) and never
# name one. The names are read from where the control sets them (src/screen/Screen.cpp and
# src/control/CenterVendor.cpp), so a child added there is covered at once.
#   NoControlChildren.sh SOURCE_DIR
set -euo pipefail

root="${1:?usage: NoControlChildren.sh SOURCE_DIR}"
cd "$root"

mapfile -t names < <(grep -hoE \
    '(make<[^>]+>\([^,]+, |place\([^,]+, |setObjectName\(QStringLiteral\()"[A-Za-z][A-Za-z0-9_]*"' \
    src/screen/Screen.cpp src/control/CenterVendor.cpp | grep -oE '"[^"]+"' | sort -u)
# The control has some thirty children; far fewer means the names were not found.
if ((${#names[@]} < 25)); then
    echo "NoControlChildren: found only ${#names[@]} child names; has the screen moved?" >&2
    exit 2
fi
mapfile -t files < <(find desk designer -name '*.cpp' -o -name '*.h' | sort)
findings=0
report() {
    echo "$1"
    findings=$((findings + 1))
}
for file in "${files[@]}"; do
    while IFS= read -r hit; do
        [[ -n "$hit" ]] && report "$file:$hit"
    done < <(grep -nE 'findChildren?[[:space:]]*[<(]' "$file" || true)
    while IFS= read -r hit; do
        [[ -n "$hit" ]] && report "$file:$hit"
    done < <(grep -nF -f <(printf '%s\n' "${names[@]}") "$file" || true)
done
if ((findings > 0)); then
    echo "NoControlChildren: $findings line(s) reach a child of the control; use the public" \
        "header's calls instead" >&2
    exit 1
fi
echo "NoControlChildren: ${#files[@]} sources, ${#names[@]} child names, none reached"
