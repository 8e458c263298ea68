#!/usr/bin/env bash
# The stack bench: Corvane against drives served by a real Linux kernel in a
# virtual machine (QEMU): QEMU's own emulated CD/DVD drives, and simulated
# drives behind the kernel's SCSI target (LIO user backstores on a loopback
# host). Builds the guest from the distribution's kernel and busybox, runs
# the scenarios of stackbench/guest/scenarios.sh inside it, prints one line
# a scenario and "N passed, N failed"; exit status 0 when all passed.
#
#   bash tools/stack-bench.sh [--keep]     # --keep: leave build/stack as it is for a look
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
tools/deps.sh

jobs=${CORVANE_JOBS:-2}
limit=${CORVANE_STACK_SECONDS:-2400} # the whole guest run, then it is killed
work=$root/build/stack
guest=$root/stackbench/guest
# Another script of scenarios (same calling convention) for a look at one thing.
run=${CORVANE_STACK_RUN:-$guest/scenarios.sh}
started=$SECONDS

qemu_pid=
cleanup() {
    [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null && wait "$qemu_pid" 2>/dev/null
    return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The programs the guest runs, from the native tree and the Windows tree.
cmake -S . -B build/native -G Ninja --no-warn-unused-cli >/dev/null
targets=(corvane-tcmu corvane-image)
# The command line, when this tree has it (and the Linux pass-through).
with_cli=no
if ninja -C build/native -t targets all 2>/dev/null | grep -q '^corvane:' &&
    [ -f aspi/PassThroughLinux.cpp ]; then
    targets+=(corvane)
    with_cli=yes
fi
# A build with ninja's progress lines left out; false when it failed.
quiet_build() {
    local status=0
    "$@" >build/stack-build.log 2>&1 || status=$?
    grep -v '^\[' build/stack-build.log || true
    return "$status"
}
quiet_build cmake --build build/native -j "$jobs" --target "${targets[@]}" ||
    { echo "stack-bench: build failed" >&2; exit 1; }

# The Windows programs for the scenarios under Wine, built as the test
# command builds them, and a Wine prefix for them: made on this machine,
# where Wine starts in seconds, when its kernel runs 32-bit programs itself;
# else (none, or only under a user-mode emulator, where a first boot of
# Wine outlasts its own waits) the guest makes it and the bench keeps it.
with_win=no
with_win_tests=no
# shellcheck source=tools/native32.sh
source tools/native32.sh
# An emulator registered for i386 programs (tools/deps.sh registers one).
emulated_32bit() {
    local f
    for f in /proc/sys/fs/binfmt_misc/*; do
        grep -qs '^enabled' "$f" && grep -qs '^magic 7f454c4601.*02000300$' "$f" && return 0
    done
    return 1
}
if command -v i686-w64-mingw32-g++ >/dev/null && command -v wine >/dev/null; then
    launcher=()
    command -v ccache >/dev/null &&
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    [ -f build/win/build.ninja ] ||
        cmake -S . -B build/win -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake "${launcher[@]}" >/dev/null
    # The whole tree where this kernel runs no 32-bit program: the guest
    # then runs Wine tests of the tree that the test command could not.
    win_targets=(--target Corvane Wexa walkthrough corvane)
    runs_32bit_natively || { win_targets=(); with_win_tests=yes; }
    quiet_build cmake --build build/win -j "$jobs" "${win_targets[@]}" ||
        { echo "stack-bench: Windows build failed" >&2; exit 1; }
    if [ ! -f build/win/wineprefix/.corvane-ready-2 ] && wine --version >/dev/null 2>&1 &&
        ! emulated_32bit; then
        # shellcheck source=tools/xvfb.sh
        source tools/xvfb.sh
        corvane_start_xvfb
        bash tools/wine-prefix.sh "$root/build/win"
        WINEPREFIX=$root/build/win/wineprefix wineserver -w
        kill "$corvane_xvfb_pid" 2>/dev/null || true
    fi
    with_win=yes
fi

# The guest: the newest installed kernel of the distribution, busybox, the
# modules the bench needs with everything they depend on (modules.dep), our
# handler and the drive list.
kver=$(find /lib/modules -mindepth 1 -maxdepth 1 -printf '%f\n' | sort -V | tail -1)
kernel=/boot/vmlinuz-$kver
moddir=/lib/modules/$kver
rm -rf "$work"
mkdir -p "$work/initramfs/bin" "$work/initramfs/proc" "$work/initramfs/sys" "$work/initramfs/dev" "$work/out"
ramfs=$work/initramfs
modules=(ata_piix sr_mod sg virtio_pci virtio_scsi 9p 9pnet_virtio overlay configfs
         target_core_mod target_core_user tcm_loop xhci_pci usb_storage)
for m in "${modules[@]}"; do
    # A module's line lists all it depends on; they load in reverse order.
    line=$(grep -E "(^|/)${m//_/[_-]}\.ko[^:]*:" "$moddir/modules.dep" | head -1) ||
        { echo "stack-bench: module $m not in $moddir" >&2; exit 1; }
    read -ra deps <<<"${line#*:}"
    [ ${#deps[@]} -eq 0 ] || printf '%s\n' "${deps[@]}" | tac
    echo "${line%%:*}"
done | awk 'NF && !seen[$0]++' >"$ramfs/modules.order"
while read -r m; do
    mkdir -p "$ramfs/lib/modules/$(dirname "$m")"
    case $m in
        *.xz) xz -dc "$moddir/$m" >"$ramfs/lib/modules/${m%.xz}" ;;
        *) cp "$moddir/$m" "$ramfs/lib/modules/$m" ;;
    esac
done <"$ramfs/modules.order"
sed -i 's/\.xz$//' "$ramfs/modules.order"
# The guest's Wine prefix: links to the tree's files, so the guest's changes
# (through its writable layer) and a later save of the tree's prefix touch
# neither.
[ "$with_win" = yes ] && [ -d build/win/wineprefix ] && cp -al build/win/wineprefix "$work/wineprefix"
cp /bin/busybox "$ramfs/bin/"
for applet in $("$ramfs/bin/busybox" --list); do
    [ -e "$ramfs/bin/$applet" ] || ln -s busybox "$ramfs/bin/$applet"
done
cp build/native/stackbench/corvane-tcmu "$ramfs/bin/"
cp "$guest/init" "$ramfs/init"
cp "$guest/drives.txt" "$ramfs/drives.txt"
(cd "$ramfs" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

# What the guest has to run, in its results folder.
write_flags() {
    echo "$with_cli" >"$work/out/with-cli"
    echo "$with_win" >"$work/out/with-win"
    echo "$with_win_tests" >"$work/out/with-win-tests"
}
write_flags
ours=$(grep -cEv '^(#|$)' "$guest/drives.txt")
devices=$((ours + 3)) # and QEMU's drives on IDE, on virtio SCSI and behind a USB bridge
console=$work/console.log

start_guest() { # accelerator
    rm -f "$console"
    timeout --kill-after=10 "$limit" qemu-system-x86_64 -accel "$1" -M pc -smp 2 -m 3072 \
        -kernel "$kernel" -initrd "$work/initramfs.gz" \
        -append "console=ttyS0 panic=-1 quiet loglevel=4 stackbench.devices=$devices stackbench.run=$run" \
        -display none -monitor none -serial "file:$console" -no-reboot \
        -drive if=none,id=idecd,media=cdrom,readonly=on -device ide-cd,drive=idecd,bus=ide.1 \
        -device virtio-scsi-pci,id=vscsi -drive if=none,id=scsicd,media=cdrom,readonly=on \
        -device scsi-cd,drive=scsicd,bus=vscsi.0 \
        -device qemu-xhci,id=xhci -device usb-bot,id=bridge,bus=xhci.0 \
        -drive if=none,id=usbcd,media=cdrom,readonly=on -device scsi-cd,drive=usbcd,bus=bridge.0,product="USB-BRIDGED CD" \
        -virtfs "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap" \
        -virtfs "local,path=$work/out,mount_tag=out,security_model=none" 2>"$work/qemu.err" &
    qemu_pid=$!
}

# KVM where it boots the guest (its first line within seconds), else
# software emulation.
accel=tcg
if [ -w /dev/kvm ]; then
    start_guest kvm
    for _ in $(seq 40); do
        grep -q '^stackbench: init' "$console" 2>/dev/null && { accel=kvm; break; }
        kill -0 "$qemu_pid" 2>/dev/null || break
        sleep 0.5
    done
    if [ "$accel" = tcg ]; then
        kill "$qemu_pid" 2>/dev/null || true
        wait "$qemu_pid" 2>/dev/null || true
        rm -rf "$work/out" && mkdir -p "$work/out" && write_flags
    fi
fi
[ "$accel" = tcg ] && start_guest tcg
echo "stack-bench: kernel $kver, $accel, $ours simulated drives and 3 of QEMU's"
set +e
wait "$qemu_pid"
status=$?
set -e
qemu_pid=

# A prefix the guest made serves the next runs.
if [ -f "$work/out/wineprefix.tar" ] && [ ! -f build/win/wineprefix/.corvane-ready-2 ]; then
    rm -rf build/win/wineprefix && mkdir -p build/win/wineprefix &&
        tar -xf "$work/out/wineprefix.tar" -C build/win/wineprefix && rm "$work/out/wineprefix.tar"
fi

results=$work/out/results.txt
[ -f "$results" ] && cat "$results"
touch "$results"
passed=$(grep -c '^ok ' "$results" || true)
failed=$(grep -c '^FAIL ' "$results" || true)
if ! grep -q '^end$' "$results" 2>/dev/null; then
    echo "stack-bench: the guest did not finish (status $status); see $console"
    tail -n 30 "$console" "$work/qemu.err"
    failed=$((failed + 1))
fi
echo "stack-bench: $((SECONDS - started)) s; guest console in $console, drive logs in $work/out"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
