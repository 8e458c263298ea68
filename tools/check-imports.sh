#!/usr/bin/env bash
# Fails when a Windows binary of the tree imports a DLL that a bare Windows
# does not have, or imports WNASPI32 statically (it is looked up at run time).
# The Wine prefixes of the tree (wineprefix, wineprefix-NAME) are not ours.
set -euo pipefail
tree=$1
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|msvcrt|shell32)\.dll$'
status=0
count=0
while IFS= read -r -d '' bin; do
    count=$((count + 1))
    while read -r dll; do
        if ! tr '[:upper:]' '[:lower:]' <<<"$dll" | grep -Eq "$allowed"; then
            echo "$bin imports $dll"
            status=1
        fi
    done < <(i686-w64-mingw32-objdump -p "$bin" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$tree" \( -path "$tree/wineprefix*" -o -name CMakeFiles \) -prune -o \( -iname '*.exe' -o -iname '*.dll' \) -type f -print0)
echo "checked $count binaries"
[ "$count" -gt 0 ] && exit $status
echo "no binaries found" >&2
exit 1
