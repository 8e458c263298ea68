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

# A drive's LUN folder on its loopback target.
lun_dir_of() {
    awk -v n="$1" '$1 == n { printf "/sys/kernel/config/target/loopback/%s/tpgt_%s/lun/lun_%s\n", $2, $3, $4 }' \
        "$out/targets.txt"
}

# Transfers a drive's log holds: arrived (waiting for their time) or run.
arrived() { grep -c '^wait dir=out len=65536 cdb=CB' "$1"; }
executed() { grep -c '^exec dir=out len=65536 cdb=CB' "$1"; }

# The exit status corvane gives for the result its log ends with.
status_for_result() { # corvane's --log file
    case $(sed -n 's/^ *[0-9.]* result: \([a-z]*\):.*/\1/p' "$1" | tail -1) in
        ok) echo 0 ;;
        refused) echo 1 ;;
        failed | unverified) echo 3 ;;
        *) echo "no result" ;;
    esac
}

# Waits up to $2 seconds for a line matching $1 in file $3, while process
# $4 runs. (By the clock: under software emulation on a busy machine a
# round of a loop can take a second.)
wait_for_line() { # pattern, seconds, file, process
    local until=$((SECONDS + $2))
    while [ "$SECONDS" -lt "$until" ]; do
        grep -q "$1" "$3" 2>/dev/null && return 0
        kill -0 "$4" 2>/dev/null || return 1
        sleep 0.2
    done
    return 1
}

# Waits up to $2 seconds for process $1 to end; false when it still runs.
ended_within() { # process, seconds
    local until=$((SECONDS + $2))
    while kill -0 "$1" 2>/dev/null; do
        [ "$SECONDS" -lt "$until" ] || return 1
        sleep 0.2
    done
}

# Runs a command with SIGINT, SIGQUIT and SIGPIPE at their defaults, in the
# caller's process (started with &, $! is the command's): bash starts
# background commands with the first two ignored when job control is off,
# and a signal sent must reach the program as a terminal's would.
with_default_signals() {
    exec python3 -c 'import os, signal, sys
for s in (signal.SIGINT, signal.SIGQUIT, signal.SIGPIPE):
    signal.signal(s, signal.SIG_DFL)
os.execvp(sys.argv[1], sys.argv[1:])' "$@"
}

# One signal while corvane's transfer to a slow drive (20 s) waits there:
# stop (stopped 3 s, then continued), int, term, or pipe (the reader of its
# output goes away). Prints what happened; fails unless the drive received
# the transfer once and corvane reported its result with that result's status.
signal_case() { # case, drive revision
    local name=$1 dev hex pid reader='' status expected log=$work/signal-$1.log
    dev=$(sg_of SIMDRIVE-SIG "$2") || fail "$name: no drive"
    hex=$(make_image 2.2 SIMDRIVE-SIG "2${2#1}" "4${2#1.}") || fail "$name: no image"
    if [ "$name" = pipe ]; then
        mkfifo "$work/signal.fifo"
        cat "$work/signal.fifo" >"$work/signal-pipe.read" &
        reader=$!
        with_default_signals "$corvane" flash "$hex" --device "$dev" --yes --log "$log" \
            >"$work/signal.fifo" 2>&1 &
    else
        with_default_signals "$corvane" flash "$hex" --device "$dev" --yes --log "$log" \
            >"$work/signal-$name.out" 2>&1 &
    fi
    pid=$!
    if ! wait_for_line '^wait dir=out len=65536' 180 "$out/$name.log" "$pid"; then
        kill -9 "$pid" 2>/dev/null
        cat "$log" "$work/signal-$name.out" 2>/dev/null
        fail "$name: no transfer reached the drive"
    fi
    sleep 2
    case $name in
        stop) kill -STOP "$pid" && sleep 3 && kill -CONT "$pid" ;;
        int) kill -INT "$pid" ;;
        term) kill -TERM "$pid" ;;
        pipe) kill "$reader" ;;
    esac
    # The transfer's 20 s and the questions after it: corvane never hangs.
    ended_within "$pid" 180 || { kill -9 "$pid"; fail "$name: corvane still runs after 180 s"; }
    wait "$pid"
    status=$?
    expected=$(status_for_result "$log")
    cat "$log"
    if [ "$name" = pipe ]; then cat "$work/signal-pipe.read"; else cat "$work/signal-$name.out"; fi
    grep -E '^(wait|exec|abort|lun|target)' "$out/$name.log"
    echo "$name: exit status $status, the status for its result: $expected," \
        "transfers arrived $(arrived "$out/$name.log"), run $(executed "$out/$name.log")"
    if [ "$(arrived "$out/$name.log")" != 1 ] || [ "$(executed "$out/$name.log")" != 1 ]; then
        fail "$name: the drive did not receive exactly one transfer"
    fi
    [ "$status" = "$expected" ] || fail "$name: exit status $status; its result demands $expected"
    [ "$name" != stop ] || [ "$status" = 0 ] || fail "stop: exit status $status after a stop, not 0"
}

# Signals during a transfer (one drive a signal, all at once): each drive
# receives its transfer once; corvane reports each outcome with its status.
corvane_signals() {
    local name rev probe ignored failed=''
    local -A pids
    with_default_signals sleep 30 &
    probe=$!
    # Python itself ignores SIGPIPE until it runs the command.
    local until=$((SECONDS + 60))
    until [ "$(cat "/proc/$probe/comm" 2>/dev/null)" = sleep ] || [ "$SECONDS" -ge "$until" ]; do
        sleep 0.2
    done
    ignored=$(awk '/^SigIgn/ { print $2 }' "/proc/$probe/status")
    kill "$probe"
    # SIGINT is bit 1, SIGPIPE bit 12.
    (($(printf '%d' "0x$ignored") & 0x1002)) && fail "corvane would start with signals ignored: $ignored"
    for name in stop int term pipe; do
        case $name in stop) rev=1.01 ;; int) rev=1.02 ;; term) rev=1.03 ;; pipe) rev=1.04 ;; esac
        signal_case "$name" "$rev" >"$work/signal-$name.txt" 2>&1 &
        pids[$name]=$!
    done
    for name in stop int term pipe; do
        wait "${pids[$name]}" || failed+=" $name"
        echo "== $name"
        cat "$work/signal-$name.txt"
    done
    [ -z "$failed" ] || fail "failed:$failed ($(for name in $failed; do
        tail -1 "$work/signal-$name.txt"
    done | paste -sd';'))"
}

# Two logical units of one target, each flashed through its own generic
# device: each drive's log holds its own transfer only.
corvane_luns() {
    local lun dev hex sums address problems=''
    for lun in 0 1; do
        dev=$(sg_of SIMDRIVE-LUN "1.0$lun") || fail "no drive at LUN $lun"
        address=$(basename "$(readlink -f "/sys/class/scsi_generic/${dev#/dev/}/device")")
        echo "LUN $lun: $dev, SCSI address $address"
        [ "${address##*:}" = "$lun" ] || fail "LUN $lun is not at LUN $lun: $address"
        # The target announced its new LUN to the others with a unit
        # attention (6/3F/0E), which a drive's first command would get.
        sg_turs -v "$dev" 2>&1
        sg_turs "$dev" >/dev/null 2>&1
        hex=$(make_image 2.2 SIMDRIVE-LUN "2.1$lun" "5$lun") || fail "no image"
        flash "$dev" "$hex" || problems+="LUN $lun: flash: not 0; "
    done
    for lun in 0 1; do
        echo "== LUN $lun's drive"
        grep -E '^(exec|wait|hold) dir=(out|none) len=[0-9]* cdb=CB' "$out/lun$lun.log"
        sums=$(transfer_parts "$work/SIMDRIVE-LUN-2.1$lun.hex") || fail "image not read"
        [ "$(executed "$out/lun$lun.log")" = 1 ] ||
            problems+="LUN $lun's drive got $(executed "$out/lun$lun.log") transfers; "
        grep -q "^exec dir=out len=65536 cdb=CB 00 22 ${sums^^} FF FE 84 digest=$(fnv_digest "$work/data.bin") status=00" \
            "$out/lun$lun.log" || problems+="LUN $lun's drive did not get its own image; "
    done
    [ -z "$problems" ] || fail "${problems%; }"
}

# A drive taken away while its transfer waits (its LUN removed from the
# loopback target): corvane says the drive is gone and may be modified,
# exits 3 and never hangs; nothing the scenario started runs on.
corvane_gone() {
    local dev hex pid remover status lun_dir
    dev=$(sg_of SIMDRIVE-RM) || fail "no drive"
    lun_dir=$(lun_dir_of gone)
    [ -L "$lun_dir/gone" ] || fail "no LUN link at $lun_dir"
    hex=$(make_image 2.2 SIMDRIVE-RM 2.00 61) || fail "no image"
    "$corvane" flash "$hex" --device "$dev" --yes --log "$work/gone.log" >"$work/gone.out" 2>&1 &
    pid=$!
    wait_for_line '^hold dir=out len=65536' 180 "$out/gone.log" "$pid" ||
        { kill -9 "$pid"; cat "$work/gone.out"; fail "no transfer reached the drive"; }
    sleep 1
    (rm "$lun_dir/gone" && rmdir "$lun_dir") &
    remover=$!
    ended_within "$pid" 180 || { kill -9 "$pid"; fail "corvane still runs 180 s after the drive went"; }
    wait "$pid"
    status=$?
    ended_within "$remover" 120 || fail "the LUN's removal still runs after 120 s"
    wait "$remover" || fail "the LUN could not be removed"
    cat "$work/gone.out" "$work/gone.log"
    cat "$out/gone.log"
    [ -e "/sys/class/scsi_generic/${dev#/dev/}" ] && fail "the kernel still has $dev"
    [ "$status" = 3 ] || fail "exit status $status, not 3"
    grep -q 'may have been modified' "$work/gone.out" || fail "no word that the drive may be modified"
    grep -qi 'gone' "$work/gone.out" || fail "no word that the drive is gone"
}

# A transfer cut part-way (the drive's handler answers it with an error):
# corvane says the firmware is likely incomplete and gives the command that
# flashes the image again; the drive answers as its boot loader, and keeps
# it; flash refuses the loader as another model, and --recover brings the
# drive back with the image's identity. One transfer reaches the drive each
# attempt.
corvane_recover() {
    local dev hex first again json status
    dev=$(sg_of SIMDRIVE-CUT) || fail "no drive"
    hex=$(make_image 2.2 SIMDRIVE-CUT 2.00 81) || fail "no image"
    first=$(flash "$dev" "$hex" 2>&1)
    status=$?
    echo "$first"
    [ "$status" = 3 ] || fail "cut transfer: exit status $status, not 3"
    [ "$(executed "$out/cut.log")" = 1 ] || fail "cut transfer: $(executed "$out/cut.log") transfers reached the drive"
    grep -q 'likely incomplete' <<<"$first" || fail "no word that the firmware is likely incomplete"
    again=$(grep -o "corvane flash .* --recover" <<<"$first") || fail "no command to flash again"
    [ "$again" = "corvane flash $hex --device $dev --recover" ] || fail "the command given: $again"
    sg_inq "$dev" | grep -q 'Product identification: BOOT LOADER' || fail "the drive does not answer as its loader"
    flash "$dev" "$hex"
    status=$?
    [ "$status" = 1 ] || fail "flash without --recover: exit status $status, not 1"
    [ "$(executed "$out/cut.log")" = 1 ] || fail "flash without --recover sent a transfer"
    json=$(flash "$dev" "$hex" --recover --json)
    status=$?
    echo "$json"
    [ "$status" = 0 ] || fail "--recover: exit status $status, not 0"
    if ! grep -q '"result":"ok"' <<<"$json" || ! grep -q '"recovered":true' <<<"$json"; then
        fail "--recover: not reported as ok and recovered"
    fi
    [ "$(executed "$out/cut.log")" = 2 ] || fail "--recover: $(($(executed "$out/cut.log") - 1)) transfers"
    answered "$dev" | grep -qx 'SIMDRIVE-CUT|2.00' || fail "the image's identity is not answered"
    grep -E '^exec dir=out len=65536 cdb=CB' "$out/cut.log"
}

# QEMU's drive behind its emulated USB mass-storage bridge: scan names the
# bus, and flash, whose probes the bridge does not pass, refuses with the
# bridge as the likely cause. The drive on IDE is not named usb.
corvane_usb() {
    local dev ide json report status hex
    dev=$(sg_of "USB-BRIDGED CD") || fail "no drive behind the USB bridge"
    ide=$(sg_of "QEMU DVD-ROM") || fail "no drive on IDE"
    json=$("$corvane" scan --json) || fail "scan failed"
    echo "$json"
    grep -Eq "\"device\":\"$dev\"[^}]*\"bus\":\"usb\"" <<<"$json" || fail "scan does not name $dev's bus usb"
    grep -Eq "\"device\":\"$ide\"[^}]*\"bus\":\"usb\"" <<<"$json" && fail "scan names the IDE drive's bus usb"
    "$corvane" scan | grep -E "^[^ ]* +$dev .*usb" || fail "scan's table does not name $dev's bus usb"
    hex=$(make_image 2.2 SIMDRIVE-22 2.00 82) || fail "no image"
    report=$(flash "$dev" "$hex" --force-model 2>&1)
    status=$?
    echo "$report"
    [ "$status" = 1 ] || fail "exit status $status, not 1"
    grep -q 'behind a USB bridge, which likely dropped the vendor download command' <<<"$report" ||
        fail "the refusal does not name the bridge"
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

# Wine's prefix, environment and virtual display for a scenario; sets prefix.
wine_env() {
    prefix=$root/build/stack/wineprefix
    [ -f "$prefix/.corvane-ready-2" ] || fail "no Wine prefix at $prefix"
    # A crash ends the program instead of waiting in Wine's debugger.
    export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=;winedbg.exe=d"
    # shellcheck source=tools/xvfb.sh
    source "$root/tools/xvfb.sh"
    corvane_start_xvfb || fail "no virtual display"
}

# A prefix made here, where the bench brought none (its machine runs no
# 32-bit program): tools/wine-prefix.sh, as on a host; the bench keeps it
# (RESULTS_DIR/wineprefix.tar) for the next runs.
wine_prefix() {
    prefix=$root/build/stack/wineprefix
    # shellcheck source=tools/xvfb.sh
    source "$root/tools/xvfb.sh"
    corvane_start_xvfb || fail "no virtual display"
    WINEPREFIX=$prefix bash "$root/tools/wine-prefix.sh" "$root/build/stack" || fail "no prefix made"
    WINEPREFIX=$prefix wineserver -k
    WINEPREFIX=$prefix wineserver -w
    kill "$corvane_xvfb_pid" 2>/dev/null
    tar -cf "$out/wineprefix.tar" -C "$prefix" . || fail "prefix not kept"
}

# Corvane.exe with Wexa.dll and no simulated WNASPI32.DLL: its device page
# lists the kernel's drives through our pass-through layer (read from its
# window), and a verify-mode download through its window reaches the Type
# 2.2 drive: the new identity in row 7, read back through the kernel, and
# the transfer the image demands in the drive's log.
wine_download() {
    local run=/run/corvane-win hex dev name sums status
    wine_env
    export CORVANE_ASPI_REPORT=$out/wine-aspi.txt
    wine_letters "$prefix" >"$work/letters.txt" || exit 1
    cat "$work/letters.txt"
    mkdir -p "$run"
    # The programs run from the guest's memory: mapped from the shared
    # folder, a program's pages can read wrong (a fault in its first lines).
    cp "$winbin/Corvane.exe" "$winbin/Wexa.dll" "$winbin/walkthrough.exe" "$run/"
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

# Under Wine the pass-through is Wine's own SG_IO, issued by the program's
# process. Which stop of a Wine process during a transfer makes the drive
# receive it twice: corvane.exe flashes a slow drive (20 s) through its
# drive letter, stopped for 3 s and continued once the transfer waits at
# the drive, first the program, then the wineserver. Prints, a stop, how
# many transfers reached the drive; fails only when a run could not be made.
wine_stop_once() { # who (program or server), image revision, seed
    local who=$1 hex before pid target status
    hex=$(make_image 2.2 SIMDRIVE-WS "$2" "$3") || fail "no image"
    before=$(arrived "$out/winestop.log")
    timeout 600 wine "$cli" flash "Z:${hex//\//\\}" --device "$address" --yes \
        >"$work/wine-stop-$who.txt" 2>&1 &
    pid=$!
    wait_for_line "^wait dir=out len=65536 cdb=CB 00 22 $(transfer_parts "$hex" | tr a-f A-F)" 300 \
        "$out/winestop.log" "$pid" || fail "$who: no transfer reached the drive"
    case $who in
        program) target=$(pgrep -n -f 'corvane[.]exe flash') ;;
        server) target=$(pgrep -n wineserver) ;;
    esac
    [ -n "$target" ] || fail "$who: no process to stop"
    sleep 2
    kill -STOP "$target" && sleep 1
    echo "stopped: $(tr '\0' ' ' <"/proc/$target/cmdline"), $(grep '^State' "/proc/$target/status")"
    sleep 2 && kill -CONT "$target"
    wait "$pid"
    status=$?
    tr -d '\r' <"$work/wine-stop-$who.txt"
    echo "stop of the $who (process $target): exit status $status;" \
        "transfers that reached the drive: $(($(arrived "$out/winestop.log") - before))"
}

wine_stop() {
    local sg sr address cli=/run/corvane-cli/corvane.exe
    wine_env
    sg=$(sg_of SIMDRIVE-WS) || fail "no slow drive"
    sr=$(basename "$(echo "/sys/class/scsi_generic/${sg#/dev/}"/device/block/sr*)")
    # Drive letter D: for the slow drive (the registry's CD-ROM type for D:
    # too, where wine-download set none).
    mkdir -p /run/wine-mnt/d "${cli%/*}"
    ln -sfn /run/wine-mnt/d "$prefix/dosdevices/d:"
    ln -sfn "/dev/$sr" "$prefix/dosdevices/d::"
    grep -q '^"d:"="cdrom"' "$prefix/system.reg" ||
        printf '\n[Software\\\\Wine\\\\Drives]\n"d:"="cdrom"\n' >>"$prefix/system.reg"
    cp "$winbin/corvane.exe" "$cli"
    wineserver -p
    timeout 300 wine cmd /c exit </dev/null >/dev/null 2>&1 || fail "Wine does not start"
    address=$(timeout 300 wine "$cli" scan | tr -d '\r' | tee "$work/wine-scan.txt" |
        awk '/SIMDRIVE-WS/ { print $1; exit }')
    cat "$work/wine-scan.txt"
    [ -n "$address" ] || fail "corvane.exe scan does not list the slow drive"
    wine_stop_once program 2.01 71
    wine_stop_once server 2.02 72
    wineserver -k
    kill "$corvane_xvfb_pid" 2>/dev/null
    grep -E '^(wait|exec|abort|lun|target)' "$out/winestop.log"
}

scenario kernel-drives kernel_drives
scenario kernel-abort kernel_abort
if [ -n "$corvane" ]; then
    scenario corvane-scan corvane_scan
    scenario corvane-verify corvane_verify
    scenario corvane-mismatch corvane_mismatch
    scenario corvane-faults corvane_faults
    scenario corvane-signals corvane_signals
    scenario corvane-luns corvane_luns
    scenario corvane-gone corvane_gone
    scenario corvane-recover corvane_recover
    scenario corvane-usb corvane_usb
else
    for name in corvane-scan corvane-verify corvane-mismatch corvane-faults corvane-signals \
        corvane-luns corvane-gone corvane-recover corvane-usb; do
        echo "wait $name: no corvane command line with the Linux pass-through in this tree yet" >>"$results"
    done
fi
if [ -n "$winbin" ]; then
    [ -f "$root/build/stack/wineprefix/.corvane-ready-2" ] || scenario wine-prefix wine_prefix
    # Wine tests of the tree, where the bench's machine could not run them:
    # a line each test program.
    if [ "$(cat "$out/with-win-tests")" = yes ]; then
        # shellcheck source=stackbench/guest/wine-tests.sh
        source "$root/stackbench/guest/wine-tests.sh"
        wine_tests "$out" -R "$wine_tests_scenario"
    fi
    scenario wine-download wine_download
    scenario wine-stop wine_stop
else
    for name in wine-download wine-stop; do
        echo "wait $name: no Windows build (build/win) for the guest" >>"$results"
    done
fi
echo end >>"$results"
