#!/usr/bin/env bash
# Every control is described once, in the control table (src/controls). This check fails
# when the quoted name of a parameter, group or saved-look key appears more than once in
# src/ or cli/, which would mean a second description of the same control.
#
# The names come from the reviewed golden describe text (every parameter as a host sees it)
# and from the saved-look keys of the table. The look catalogue names the per-pack controls
# (look menus and notes) in its pack rows, where two packs share one note; it is left out.
set -euo pipefail
cd "$(dirname "$0")/.."

golden=tests/ofx/describe.golden.txt
names=$( (sed -n 's/^ \{2,\}\([a-z][A-Za-z0-9]*\) \{2,\}\(group\|choice\|double\|string\|boolean\|rgb\|button\) .*/\1/p' "$golden"
          sed -n 's/^  page \([a-z][A-Za-z0-9]*\) .*/\1/p' "$golden"
          grep -o 'savedKeys = {[^}]*}' src/controls/Controls.cpp | grep -o '"[A-Za-z]*"' | tr -d '"') |
        sort -u)
if [ -z "$names" ]; then
    echo "check-names: no names found in $golden" >&2
    exit 1
fi

files=$(git ls-files 'src/*.cpp' 'src/*.h' 'cli/*.cpp' 'cli/*.h' | grep -v '^src/looks/Catalogue.cpp$')
status=0
for name in $names; do
    count=$( (grep -o "\"$name\"" $files || true) | wc -l)
    if [ "$count" -gt 1 ]; then
        echo "check-names: \"$name\" is written $count times:" >&2
        grep -n "\"$name\"" $files >&2
        status=1
    fi
done
exit $status
