#!/usr/bin/env bash
# Draws every icon and bitmap of the deliverables with ImageMagick, into the
# folder given (default: resources/pictures). Each deliverable's pictures are
# drawn by its own resources/<name>/draw.sh, called here with that folder.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/pictures}
mkdir -p "$out"
for script in "$here"/*/draw.sh; do
    [ -e "$script" ] || continue
    bash "$script" "$out"
done
