#!/usr/bin/env bash
# Installs, as root, what building and testing need on a Debian 12 machine.
# Quiet and quick when everything is there already.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libbenchmark-dev
          clang-format-14 clang-tidy-14 shellcheck ccache python3
          g++-mingw-w64-i686-posix binutils-mingw-w64-i686
          wine wine32 fonts-wine xvfb x11-utils imagemagick srecord hyperfine
          qemu-system-x86 linux-image-amd64 busybox-static cpio sg3-utils
          libcli11-dev librapidcheck-dev)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "deps: missing ${missing[*]}; run this script as root" >&2
    exit 1
fi
echo "deps: installing ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q '^wine32$'; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
