#!/usr/bin/env bash
# Unpacks the release archive and checks what a user receives: exactly these
# files, the simulated ASPI layer only in its own folder, and programs that
# import system DLLs only.   ReleaseZipTest.sh ZIP
set -euo pipefail
zip=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cmake -E tar xf "$zip")
name=$(basename "$zip" .zip)
actual=$(cd "$work" && find . -type f | sort)
expected=$(printf "./$name/%s\n" Corvane.exe Wexa.dll corvane-image.exe USER-GUIDE.txt \
    rehearsal/WNASPI32.DLL rehearsal/REHEARSAL.txt | sort)
if [ "$actual" != "$expected" ]; then
    echo "archive holds:"; echo "$actual"; echo "expected:"; echo "$expected"
    exit 1
fi
for file in Corvane.exe Wexa.dll corvane-image.exe rehearsal/WNASPI32.DLL; do
    head -c 2 "$work/$name/$file" | grep -q '^MZ$' || { echo "$file is not a program"; exit 1; }
done
version=${name#Corvane-}
grep -q "^Corvane ${version%-win32} " "$work/$name/USER-GUIDE.txt" ||
    { echo "the guide does not name the version"; exit 1; }
bash "$here/tools/check-imports.sh" "$work/$name"
