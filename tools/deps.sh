#!/usr/bin/env bash
# Installs, as root, what building and testing need on a Debian 12 machine.
# Quiet and quick when everything is there already.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libbenchmark-dev
          clang-format-14 clang-tidy-14 shellcheck ccache python3
          g++-mingw-w64-i686-posix binutils-mingw-w64-i686
          wine wine32 fonts-wine xvfb x11-utils imagemagick srecord hyperfine
          qemu-system-x86 linux-image-amd64 busybox-static cpio sg3-utils
          libcli11-dev librapidcheck-dev libsgutils2-dev dpkg-dev lintian nlohmann-json3-dev)

install_missing() { # packages...
    local p missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "deps: missing ${missing[*]}; run this script as root" >&2
        exit 1
    fi
    echo "deps: installing ${missing[*]}"
    if printf '%s\n' "${missing[@]}" | grep -q '^wine32$'; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    [ -n "${updated:-}" ] || apt-get update -qq
    updated=1
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Wine runs our programs in 32-bit processes. A kernel built without 32-bit
# support refuses them ("Exec format error"); there QEMU's user-mode emulator
# runs them, registered with the kernel for i386 programs; Wine's server then
# runs as a 64-bit program, natively (wine64 brings it).
runs_32bit() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

emulate_32bit() {
    install_missing qemu-user-static wine64
    local misc=/proc/sys/fs/binfmt_misc
    [ -f "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
    [ -f "$misc/corvane-i386" ] ||
        printf '%s\n' ':corvane-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >"$misc/register"
    runs_32bit || { echo "deps: this kernel runs no 32-bit program, even emulated" >&2; exit 1; }
    echo "deps: 32-bit programs run under QEMU's user-mode emulator (no 32-bit support in this kernel)"
}

install_missing "${packages[@]}"
runs_32bit || emulate_32bit
