#!/usr/bin/env bash
# Fails when client code decides by the words of a message: compares or searches a text shown to
# people or written for logs (a failure's text, a server's answer) instead of reading the typed
# reason, status or value that travels beside it.
#   NoMessageMatching.sh SOURCE_DIR
#
# Scanned: every .cpp and .h under src/, desk/, designer/ and protocol/. Message tables are the
# files that write texts for people: desk/StaffTexts.cpp (the desk's words, chosen by reason),
# src/screen/Messages.cpp (the control's message boxes) and the failure texts of src/net/,
# src/load/ and src/save/. They are scanned like the rest, since choosing words needs no search
# either; a file that must look texts up would be named in `allowed` below, with its reason.
#
# A line is a finding when, outside a // comment,
#   1. a text search or comparison (startsWith, endsWith, starts_with, ends_with, contains,
#      indexOf, lastIndexOf, find, rfind, compare, match, == or !=) meets a phrase literal
#      (a string with a blank between two words, as messages have and keys, names and URL parts
#      do not), or
#   2. a regular expression is built from a phrase literal, or
#   3. a text search is called on a failure's or an answer's text (a name ending in error,
#      errorString, what, answer, message, detail or reason).
set -euo pipefail

root="${1:?usage: NoMessageMatching.sh SOURCE_DIR}"
cd "$root"
allowed=()

phrase='"[^"]*[[:alnum:])] +[[:alnum:](][^"]*"'
search='(^|[^[:alnum:]_])(startsWith|endsWith|starts_with|ends_with|contains|indexOf|lastIndexOf|find|rfind|compare|match)[[:space:]]*\('
rules=(
    "${search}.*${phrase}"
    "(==|!=)[[:space:]]*[[:alnum:]_:]*\(?${phrase}"
    "${phrase}\)?[[:space:]]*(==|!=)"
    "(QRegularExpression|regex)[[:space:]]*[[:alnum:]_]*[[:space:]]*[({].*${phrase}"
    "(error|Error|errorString|what|answer|Answer|message|Message|detail|Detail|reason|Reason)(\(\))?[[:space:]]*(\.|->)[[:space:]]*(startsWith|endsWith|starts_with|ends_with|contains|indexOf|lastIndexOf|find|rfind|compare|match)[[:space:]]*\("
)

mapfile -t files < <(find src desk designer protocol -name '*.cpp' -o -name '*.h' 2>/dev/null |
    sort)
if ((${#files[@]} < 20)); then
    echo "NoMessageMatching: only ${#files[@]} sources under $root; wrong folder?" >&2
    exit 2
fi
findings=0
for file in "${files[@]}"; do
    for skip in "${allowed[@]}"; do
        [[ "$file" == "$skip" ]] && continue 2
    done
    # Comment lines say why; they decide nothing. A line that breaks several rules counts once.
    while IFS= read -r hit; do
        [[ -z "$hit" ]] && continue
        echo "$file:$hit"
        findings=$((findings + 1))
    done < <(for rule in "${rules[@]}"; do grep -nE -- "$rule" "$file" || true; done |
        grep -vE '^[0-9]+:[[:space:]]*//' | sort -t: -k1,1n -u)
done
if ((findings > 0)); then
    echo "NoMessageMatching: $findings line(s) decide by a message's words; carry a typed" \
        "reason beside the text instead" >&2
    exit 1
fi
echo "NoMessageMatching: ${#files[@]} sources, no message matched"
