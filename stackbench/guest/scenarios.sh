#!/bin/bash
# The bench's scenarios, run inside the guest on the host's root (read-only,
# with a writable layer): RESULTS_DIR/results.txt gets one line a scenario,
# "ok NAME (N s)", "FAIL NAME (N s): reason" or "wait NAME: reason", then
# "end". Each scenario's output goes to RESULTS_DIR/NAME.txt, each drive's
# command log is RESULTS_DIR/<drive>.log.
#   scenarios.sh RESULTS_DIR
set -uo pipefail

out=$1
results=$out/results.txt
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
native=$root/build/native
image_tool=$native/cli/corvane-image
work=/run/scenarios
mkdir -p "$work"
: >"$results"

# Ends the scenario (each runs in a subshell) with its reason.
fail() {
    echo "$*"
    exit 1
}

scenario() { # name, function
    local name=$1 start=$SECONDS reason
    shift
    if ("$@") >"$out/$name.txt" 2>&1; then
        echo "ok $name ($((SECONDS - start)) s)" >>"$results"
    else
        reason=$(tail -1 "$out/$name.txt")
        echo "FAIL $name ($((SECONDS - start)) s): $reason" >>"$results"
    fi
}

# The generic SCSI device of the drive whose INQUIRY product is $1 (and
# revision $2, when given).
sg_of() {
    local d
    for d in /sys/class/scsi_generic/sg*; do
        [ "$(sed 's/ *$//' "$d/device/model")" = "$1" ] || continue
        [ -z "${2:-}" ] || [ "$(sed 's/ *$//' "$d/device/rev")" = "$2" ] || continue
        echo "/dev/${d##*/}"
        return 0
    done
    return 1
}

# The command is answered CHECK CONDITION, ILLEGAL REQUEST.
refused() {
    local report
    report=$(sg_raw "$@" 2>&1)
    echo "$report"
    grep -qi 'check condition' <<<"$report" && grep -qi 'illegal request' <<<"$report"
}

# drive log name for a product
log_of() { echo "$out/$1.log"; }

# Image file, made by our own tool: protocol, product, revision, seed.
make_image() {
    "$image_tool" make --protocol "$1" --vendor CORVANE --product "$2" --revision "$3" \
        --seed "$4" -o "$work/$2-$3.hex" >/dev/null && echo "$work/$2-$3.hex"
}

# Sends a firmware image with sg_raw as the download does: opcode and form
# bytes, sums, function byte; image bytes 0-1 in the block, 2-65535 and
# FF FF as data. Prints sg_raw's report.
# The parts of an image's transfer, as the download sends them: prints the
# half sum and the sum as bytes, writes image bytes 2-65535 and FF FF to
# $work/data.bin and image bytes 0-1 to $work/first.txt.
transfer_parts() { # image
    local info
    info=$("$image_tool" info --json "$1")
    "$image_tool" dump "$1" -o "$work/image.bin" >/dev/null || return 1
    { tail -c +3 "$work/image.bin"; printf '\377\377'; } >"$work/data.bin"
    od -An -tx1 -N2 "$work/image.bin" >"$work/first.txt"
    sed -n 's/.*"checkSum":"\(..\)\(..\)","halfSum":"\(..\)\(..\)".*/\3 \4 \1 \2/p' <<<"$info"
}

# Sends a firmware image with sg_raw as the download does; prints sg_raw's
# report.
raw_transfer() { # device, image, "CB xx yy" form, function[, time-out in s]
    local dev=$1 form=$3 function=$4 sums first
    sums=$(transfer_parts "$2") || return 1
    first=$(cat "$work/first.txt")
    # shellcheck disable=SC2086 # the form, sums and first bytes: bytes as words
    sg_raw -t "${5:-60}" -s 65536 -i "$work/data.bin" "$dev" $form $sums FF FE "$function" $first 2>&1
}

# The kernel made SCSI devices of our drives: CD/DVD type, an sr block
# device, their identities; the probes and a transfer sent with SG_IO reach
# the drive's handler.
kernel_drives() {
    local name dev
    for name in SIMDRIVE-20 SIMDRIVE-21 SIMDRIVE-22; do
        dev=$(sg_of "$name" 1.00) || fail "no generic device for $name"
        [ "$(cat "/sys/class/scsi_generic/${dev#/dev/}/device/type")" = 5 ] || fail "$name: not type 5"
        compgen -G "/sys/class/scsi_generic/${dev#/dev/}/device/block/sr*" >/dev/null ||
            fail "$name: no sr device"
        sg_inq "$dev" | grep -q "Product identification: $name" || fail "$name: INQUIRY through $dev"
    done
    dev=$(sg_of SIMDRIVE-21)
    sg_raw "$dev" CB 21 00 00 00 00 00 FF FE 01 00 00 || fail "2.1 probe refused"
    refused "$dev" CB 00 22 00 00 00 00 FF FE 01 00 00 || fail "2.2 probe taken by a 2.1 drive"
    local hex
    hex=$(make_image 2.1 SIMDRIVE-21 2.00 3) || fail "no image"
    raw_transfer "$dev" "$hex" "CB 21 00" 04 || fail "transfer refused"
    sg_inq "$dev" | grep -q 'Product revision level: 2.00' || fail "new revision not answered"
    grep -q '^exec dir=out len=65536 cdb=CB 21 00' "$(log_of type21)" || fail "transfer not logged"
    # QEMU's drives answer the vendor command as an unknown one.
    for name in "QEMU DVD-ROM" "QEMU CD-ROM"; do
        dev=$(sg_of "$name") || fail "no generic device for $name"
        refused "$dev" CB 00 22 00 00 00 00 FF FE 01 00 00 || fail "$name took the probe"
    done
}

# A drive that never answers the transfer: the kernel's time-out ends the
# command and its abort reaches the handler, which gives the command up; the
# drive answers INQUIRY after that. A refused transfer comes back with its
# sense.
kernel_abort() {
    local silent refuses hex report start
    silent=$(sg_of SIMDRIVE-22 1.20) || fail "no silent drive"
    refuses=$(sg_of SIMDRIVE-22 1.10) || fail "no refusing drive"
    hex=$(make_image 2.2 SIMDRIVE-22 2.00 5) || fail "no image"
    report=$(raw_transfer "$refuses" "$hex" "CB 00 22" 84)
    echo "$report"
    grep -qi 'hardware error' <<<"$report" || fail "refused transfer: no sense through SG_IO"
    grep -q 'status=02 sense=4/44/00' "$out/refuses.log" || fail "refused transfer not logged"
    start=$SECONDS
    report=$(raw_transfer "$silent" "$hex" "CB 00 22" 84 5)
    echo "$report"
    [ $((SECONDS - start)) -lt 60 ] || fail "the time-out took $((SECONDS - start)) s"
    grep -q '^hold dir=out len=65536 cdb=CB 00 22' "$out/silent.log" || fail "transfer not held"
    grep -Eq '^(abort-task|lun-reset|target-reset).*released=1' "$out/silent.log" ||
        fail "the held transfer was never released"
    sg_inq "$silent" | grep -q 'Product revision level: 1.20' ||
        fail "no INQUIRY answer after the abort"
}

# The command line's scenarios, once it is built with the Linux pass-through.
# (the bench says whether it built it: a program left in the tree may be stale).
corvane=
[ "$(cat "$out/with-cli")" = yes ] && corvane=$(find "$native" -name corvane -type f -executable -print -quit)

flash() { # device, image, other options...: prints the output, answers the exit status
    local dev=$1 hex=$2 status
    shift 2
    timeout 300 "$corvane" flash "$hex" --device "$dev" --yes "$@"
    status=$?
    echo "exit status $status"
    return "$status"
}

fnv_digest() { # file: FNV-1a as the drive logs print it
    python3 -c 'import sys
h = 2166136261
for b in open(sys.argv[1], "rb").read():
    h = ((h ^ b) * 16777619) & 0xFFFFFFFF
print("%08X" % h)' "$1"
}

# scan lists QEMU's drives and ours, with their generic devices.
corvane_scan() {
    local json name dev
    json=$("$corvane" scan --json) || fail "scan failed"
    echo "$json"
    for name in SIMDRIVE-20 SIMDRIVE-21 SIMDRIVE-22 "QEMU DVD-ROM" "QEMU CD-ROM"; do
        dev=$(sg_of "$name") || fail "no generic device for $name"
        grep -Eq "\"device\":\"$dev\"[^}]*\"product\":\"$name *\"|\"product\":\"$name *\"[^}]*\"device\":\"$dev\"" \
            <<<"$json" || fail "$name at $dev not listed"
    done
}

# Verify mode to the Type 2.2 drive: the new identity through the kernel,
# and the transfer block and data digest the image demands in its log.
corvane_verify() {
    local dev hex sums
    dev=$(sg_of SIMDRIVE-22 1.00) || fail "no Type 2.2 drive"
    hex=$(make_image 2.2 SIMDRIVE-22 2.00 11) || fail "no image"
    flash "$dev" "$hex" || fail "flash: not 0"
    sg_inq "$dev" | grep -q 'Product revision level: 2.00' || fail "new revision not answered"
    sums=$(transfer_parts "$hex") || fail "image not read"
    grep -q "^exec dir=out len=65536 cdb=CB 00 22 ${sums^^} FF FE 84 digest=$(fnv_digest "$work/data.bin") status=00" \
        "$out/type22.log" || fail "no transfer of this image in the drive's log"
}

# QEMU's drive takes no vendor form: refused before any transfer.
corvane_mismatch() {
    local dev hex status
    dev=$(sg_of "QEMU DVD-ROM") || fail "no QEMU drive"
    hex=$(make_image 2.2 SIMDRIVE-22 2.00 12) || fail "no image"
    flash "$dev" "$hex" --force-model
    status=$?
    [ "$status" = 1 ] || fail "exit status $status, not 1"
    sg_inq "$dev" | grep -q 'Product identification: QEMU DVD-ROM' || fail "the drive changed"
}

# A refused transfer and one never answered: exit 3 (sent, failed), no hang.
# The transfer's own time-out is long; the backstore's (30 s) ends it first.
corvane_faults() {
    local dev hex status name
    for name in 1.10 1.20; do
        dev=$(sg_of SIMDRIVE-22 "$name") || fail "no drive $name"
        hex=$(make_image 2.2 SIMDRIVE-22 2.00 13) || fail "no image"
        flash "$dev" "$hex"
        status=$?
        [ "$status" = 3 ] || fail "revision $name: exit status $status, not 3"
    done
}

# Windows programs under Wine, once the bench built them (and a prefix for them).
winbin=
[ "$(cat "$out/with-win")" = yes ] && winbin=$root/build/win/bin

# Wine's drive letters for the kernel's drives: D: on, each with its device
# link (dosdevices/d:: -> /dev/srN) and the type cdrom in the registry, set
# before any Wine program starts. Wine's pass-through serves at most five
# CD/DVD drives a process, so five get a letter: QEMU's two, the Type 2.0
# and 2.1 drives and the Type 2.2 drive the download goes to (by its
# identity at boot, which sysfs keeps). Prints "letter sr sg" a drive.
wine_letters() {
    local prefix=$1 letter=d name sg sr drives=
    for name in "QEMU DVD-ROM" "QEMU CD-ROM" SIMDRIVE-20 SIMDRIVE-21 "SIMDRIVE-22 1.30"; do
        case $name in
            *" 1.30") sg=$(sg_of "${name% *}" 1.30) ;;
            *) sg=$(sg_of "$name") ;;
        esac || fail "no generic device for $name"
        sr=$(basename "$(echo "/sys/class/scsi_generic/${sg#/dev/}"/device/block/sr*)")
        [ -b "/dev/$sr" ] || fail "$name: no block device"
        mkdir -p "/run/wine-mnt/$letter"
        ln -sfn "/run/wine-mnt/$letter" "$prefix/dosdevices/$letter:"
        ln -sfn "/dev/$sr" "$prefix/dosdevices/$letter::"
        drives+="\"$letter:\"=\"cdrom\""$'\n'
        echo "$letter: /dev/$sr $sg"
        letter=$(echo "$letter" | tr 'd-y' 'e-z')
    done
    printf '\n[Software\\\\Wine\\\\Drives]\n%s' "$drives" >>"$prefix/system.reg"
}

# The identity a drive answers now, as the device page shows it: product|revision.
answered() { # sg device
    local report
    report=$(sg_inq "$1") || return 1
    printf '%s|%s\n' "$(sed -n 's/^ *Product identification: *//p' <<<"$report" | sed 's/ *$//')" \
        "$(sed -n 's/^ *Product revision level: *//p' <<<"$report" | sed 's/ *$//')"
}

# Corvane.exe with Wexa.dll and no simulated WNASPI32.DLL: its device page
# lists the kernel's drives through our pass-through layer (read from its
# window), and a verify-mode download through its window reaches the Type
# 2.2 drive: the new identity in row 7, read back through the kernel, and
# the transfer the image demands in the drive's log.
wine_download() {
    local prefix=$root/build/stack/wineprefix run=/run/corvane-win hex dev name sums status
    [ -f "$prefix/system.reg" ] || fail "no Wine prefix at $prefix"
    # A crash ends the program instead of waiting in Wine's debugger.
    export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winedbg.exe=d"
    export CORVANE_ASPI_REPORT=$out/wine-aspi.txt
    wine_letters "$prefix" >"$work/letters.txt" || exit 1
    cat "$work/letters.txt"
    mkdir -p "$run"
    # The programs run from the guest's memory: mapped from the shared
    # folder, a program's pages can read wrong (a fault in its first lines).
    cp "$winbin/Corvane.exe" "$winbin/Wexa.dll" "$winbin/walkthrough.exe" "$run/"
    # shellcheck source=tools/xvfb.sh
    source "$root/tools/xvfb.sh"
    corvane_start_xvfb || fail "no virtual display"
    dev=$(sg_of SIMDRIVE-22 1.30) || fail "no Type 2.2 drive for Wine"
    hex=$(make_image 2.2 SIMDRIVE-22 2.30 17) || fail "no image"
    while read -r _ _ sg; do echo "$sg $(answered "$sg")"; done <"$work/letters.txt" >"$work/before.txt"
    # The session (server, services, desktop) first, as the test fixture
    # does; the walk-through's clock starts once it is up.
    wineserver -p
    timeout 300 wine cmd /c exit </dev/null >/dev/null 2>&1 || fail "Wine does not start"
    timeout 300 wine "$run/walkthrough.exe" "$run" "$hex" - SIMDRIVE-22 1.30 >"$work/walk.txt" 2>&1
    status=$?
    [ "$status" = 0 ] || pgrep -af '[.]exe' >>"$work/walk.txt"
    wineserver -k
    kill "$corvane_xvfb_pid" 2>/dev/null
    cat "$work/walk.txt" "$CORVANE_ASPI_REPORT"
    [ "$status" = 0 ] || fail "walk-through: exit status $status, $(tr -d '\r' <"$work/walk.txt" | tail -1)"
    grep -q '^ASPI layer: SCSI pass-through' "$CORVANE_ASPI_REPORT" || fail "not our pass-through layer"
    tr -d '\r' <"$work/walk.txt" | sed -n 's/^device-row //p' >"$work/rows.txt"
    # Every lettered drive, with the identity it answered before the download.
    while read -r _ _ sg; do
        name=$(grep -F "$sg " "$work/before.txt" | cut -d' ' -f2-)
        [ "${name%|*}" ] || fail "$sg answered no INQUIRY"
        # adapter|target|model|version, the model holding the product
        awk -F'|' -v p="${name%|*}" -v r="${name#*|}" 'index($3, p) && $4 == r { found = 1 }
            END { exit !found }' "$work/rows.txt" || fail "the device page does not list ${name/|/ }"
    done <"$work/letters.txt"
    tr -d '\r' <"$work/walk.txt" | grep -q '^row 7 (drive now): .*SIMDRIVE-22.*2\.30' ||
        fail "row 7 does not show the new identity"
    sg_inq "$dev" | grep -q 'Product revision level: 2.30' || fail "new revision not answered"
    sums=$(transfer_parts "$hex") || fail "image not read"
    grep -q "^exec dir=out len=65536 cdb=CB 00 22 ${sums^^} FF FE 84 digest=$(fnv_digest "$work/data.bin") status=00" \
        "$out/wine22.log" || fail "no transfer of this image in the drive's log"
}

scenario kernel-drives kernel_drives
scenario kernel-abort kernel_abort
if [ -n "$corvane" ]; then
    scenario corvane-scan corvane_scan
    scenario corvane-verify corvane_verify
    scenario corvane-mismatch corvane_mismatch
    scenario corvane-faults corvane_faults
else
    for name in corvane-scan corvane-verify corvane-mismatch corvane-faults; do
        echo "wait $name: no corvane command line with the Linux pass-through in this tree yet" >>"$results"
    done
fi
if [ -n "$winbin" ]; then
    scenario wine-download wine_download
else
    echo "wait wine-download: no Windows build (build/win) for the guest" >>"$results"
fi
echo end >>"$results"
