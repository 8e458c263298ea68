# shellcheck shell=bash
# Sourced: runs_32bit_natively, true when this machine's kernel runs 32-bit
# programs itself. Where it runs none, tools/deps.sh has QEMU's user-mode
# emulator run them (binfmt_misc entry corvane-i386), far too slowly for the
# Wine tests: the stack bench's guest runs them instead.
runs_32bit_natively() {
    [ ! -e /proc/sys/fs/binfmt_misc/corvane-i386 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}
