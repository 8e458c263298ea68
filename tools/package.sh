#!/usr/bin/env bash
# Makes the Debian package of the native tools, build/package/corvane_<version>_<arch>.deb,
# from a Release tree built with Debian's own compiler and linker flags
# (dpkg-buildflags, hardening included), and checks it: the packaged programs
# run and say the package's version, its files are where Debian looks for
# them, and lintian finds no error and no warning. The package's path is the
# last line.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
dir=build/package
jobs=${CORVANE_JOBS:-2}

if [ ! -f "$dir/build.ninja" ]; then
    options=(-DCMAKE_BUILD_TYPE=Release -DCORVANE_PACKAGE=ON)
    if command -v ccache >/dev/null; then
        options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    # CMake reads no CPPFLAGS: Debian's preprocessor flags go with the compiler's.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
        CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
        LDFLAGS=$(dpkg-buildflags --get LDFLAGS) \
        cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli "${options[@]}" >/dev/null
fi
export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
set +e
cmake --build "$dir" -j "$jobs" --target corvane corvane-image package_files | grep -v -e '^\[' -e '^ninja: no work to do' -e '^-- '
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || { echo "package: the build failed" >&2; exit 1; }
rm -f "$dir"/corvane_*.deb
(cd "$dir" && cpack -G DEB >cpack.log 2>&1) || { cat "$dir/cpack.log" >&2; exit 1; }
deb=$(echo "$dir"/corvane_*.deb)

failures=0
fail() {
    echo "package: $*" >&2
    failures=$((failures + 1))
}
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
version=$(dpkg-deb -f "$deb" Version)
for tool in corvane corvane-image; do
    said=$("$unpacked/usr/bin/$tool" --version) || fail "$tool --version failed"
    [ "$said" = "$tool $version" ] || fail "$tool --version says '$said', the package $version"
    for file in "share/man/man1/$tool.1.gz" "share/bash-completion/completions/$tool"; do
        [ -f "$unpacked/usr/$file" ] || fail "no /usr/$file"
    done
done
# lintian warns that it runs as root; that says nothing about the package.
lintian --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2) ||
    fail "lintian: errors or warnings above"
[ "$failures" -eq 0 ] || exit 1
echo "$deb"
