#!/usr/bin/env bash
# corvane-image as a whole program: make -> info -> dump for every protocol,
# dump byte for byte against srec_cat, sums against the dumped bytes, and
# the exit status and single stderr line of every refusal.
# Usage: ImageToolTest.sh TOOL [RUNNER]   (RUNNER: the Wine runner for .exe)
set -u
tool=$1
runner=${2:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/image-tool-$$-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# The Wine runner starts a program in its own directory: run a copy from here.
if [ -n "$runner" ]; then
    cp "$tool" "$work/"
    tool=$work/$(basename "$tool")
fi
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# Runs the tool; stdout in out, stderr in err (Windows line ends removed), status in rc.
run() {
    $runner "$tool" "$@" >out.raw 2>err.raw
    rc=$?
    tr -d '\r' <out.raw >out
    tr -d '\r' <err.raw >err
}
expect_rc() { # expected, description
    [ "$rc" = "$1" ] || fail "$2: exit $rc, expected $1 ($(cat err))"
}
expect_refusal() { # expected status, description: one line on stderr, nothing else
    expect_rc "$1" "$2"
    [ "$(wc -l <err)" = 1 ] || fail "$2: stderr is not one line: $(cat err)"
}
# 16-bit sum of a file's first N bytes, as four hex digits.
sum16() {
    head -c "$2" "$1" | od -An -v -tu1 | awk '{for (i = 1; i <= NF; i++) s += $i} END {printf "%04X", s % 65536}'
}

declare -A accepts=(
    [none]=''
    [2.0]='{"drive":"QV Type 2.0","driveProtocol":1,"mode":"reboot"},{"drive":"QV Type 2.2","driveProtocol":3,"mode":"reboot"}'
    [2.1]='{"drive":"QV Type 2.1","driveProtocol":2,"mode":"reboot"}'
    [2.2]='{"drive":"QV Type 2.0","driveProtocol":1,"mode":"reboot"},{"drive":"QV Type 2.2","driveProtocol":3,"mode":"verify"}'
)
number=0
for p in none 2.0 2.1 2.2; do
    run make --protocol "$p" --seed $((number + 11)) --vendor VEND --product "PROD $p" \
        --revision "$number.00" -o "$p.hex"
    expect_rc 0 "make $p"
    run dump "$p.hex" -o "$p.bin"
    expect_rc 0 "dump $p"
    [ "$(stat -c %s "$p.bin")" = 65536 ] || fail "dump $p: not 65536 bytes"
    if command -v srec_cat >/dev/null; then
        srec_cat "$p.hex" -intel -fill 0xFF 0 0x10000 -o "$p.srec" -binary
        cmp -s "$p.bin" "$p.srec" || fail "dump $p differs from srec_cat"
    fi
    run info --json "$p.hex"
    expect_rc "$([ "$p" = none ] && echo 3 || echo 0)" "info $p"
    model=$(printf '%-8s%-16s' VEND "PROD $p")
    want="{\"result\":\"ok\",\"message\":\"\",\"model\":\"$model\",\"version\":\"$number.00\","
    want+="\"protocol\":$number,\"protocolName\":\"$( ((number)) && echo "QV Type $p" || echo Unkown)\","
    want+="\"checkSum\":\"$(sum16 "$p.bin" 65536)\",\"halfSum\":\"$(sum16 "$p.bin" 32768)\","
    want+="\"accepts\":[${accepts[$p]}]}"
    [ "$(cat out)" = "$want" ] || fail "info --json $p: $(cat out), expected $want"
    run info "$p.hex"
    grep -qx "FW Model Name  $model $number.00  " out || fail "info $p: model row: $(cat out)"
    number=$((number + 1))
done
grep -qx 'QV Type 2.2 drive: verify mode' out || fail "info 2.2: no verify line"
run info none.hex
grep -qx 'No drive accepts this image.' out || fail "info none: no refusal line"

# Files that both builds must read alike.
printf ':0100000001FE\r\n:00000001FF\r\n\x1A:garbage\r\n' >eof.hex
printf ':0100000001FE\r\n\x1A:00000001FF\r\n' >eof-cut.hex
printf '\xE9\xFF:0100000001FE\r\n:01000000\xE90DF\r\n:00000001FF\r\n' >high.hex
printf ':10FEF800000102030405060708090A0B0C0D0E0F82\r\n' >overflow.hex
printf ':0100000002FE\r\n' >damaged.hex
run info eof.hex
expect_rc 3 "0x1A ends the file"
run info --json eof-cut.hex
expect_refusal 1 "0x1A before the end record"
# A download cut short: a third of the records and no end record.
head -n $((65280 / 16 / 3)) 2.2.hex >cut.hex
for f in cut.hex eof-cut.hex; do
    run info --json "$f"
    expect_refusal 1 "$f: no end record"
    [ "$(cat out)" = '{"result":"damaged","message":"Damaged F/W file!"}' ] || fail "$f: $(cat out)"
done
run info high.hex
expect_rc 3 "bytes 0x80-0xFF"
run info overflow.hex
expect_refusal 1 "address overflow"
grep -q 'Damaged F/W file! (Address Overflow)' err || fail "overflow message: $(cat err)"
run info --json damaged.hex
expect_refusal 1 "damaged"
[ "$(cat out)" = '{"result":"damaged","message":"Damaged F/W file!"}' ] || fail "damaged json: $(cat out)"
run info missing.hex
expect_refusal 1 "missing file"
grep -q 'Unable to open file!' err || fail "missing message: $(cat err)"

# Usage errors and refusals leave no output file behind.
run dump damaged.hex -o damaged.bin
expect_refusal 1 "dump of a damaged file"
[ ! -e damaged.bin ] || fail "dump left a file after a failed read"
run make --size 65281 -o big.hex
expect_refusal 2 "make --size too large"
[ ! -e big.hex ] || fail "make left a file after bad usage"
run make -o no/such/dir.hex
expect_refusal 1 "make into a missing directory"
# A value is never the next option: "-o --json" names no file "--json".
for args in "" "info" "info --bogus a.hex" "info a.hex b.hex" "dump none.hex" "dump none.hex -o" \
    "make --protocol 3.0 -o x.hex" "make --seed -1 -o x.hex" "make --vendor ABCDEFGHI -o x.hex" \
    "make" "frobnicate" "make -o --no-template" "dump none.hex -o --json" "info --json=1 none.hex" \
    "make --vendor -o x.hex"; do
    # shellcheck disable=SC2086
    run $args
    expect_refusal 2 "usage: '$args'"
done
for name in --no-template --json x.hex; do
    [ ! -e "$name" ] || fail "bad usage wrote $name"
done
for command in "" info dump make; do
    # shellcheck disable=SC2086
    run $command --help
    expect_rc 0 "$command --help"
    grep -q '^usage: corvane-image' out || fail "$command --help: no usage text"
    # shellcheck disable=SC2086
    run $command --version
    expect_rc 0 "$command --version"
    grep -qxE 'corvane-image [0-9]+\.[0-9]+\.[0-9]+' out || fail "$command --version: $(cat out)"
done

# Identity bytes are data: a NUL inside the model is kept (a blank in text,
# \u0000 in JSON) and no control byte reaches the terminal raw.
records() { # address, data as hexadecimal digits: Intel HEX records of 16 bytes
    local address=$1 data=$2 chunk n sum i
    while [ -n "$data" ]; do
        chunk=${data:0:32}
        data=${data:32}
        n=$((${#chunk} / 2))
        sum=$((n + (address >> 8) + (address & 255)))
        for ((i = 0; i < ${#chunk}; i += 2)); do sum=$((sum + 16#${chunk:i:2})); done
        printf ':%02X%04X00%s%02X\r\n' "$n" "$address" "$chunk" $(((256 - sum % 256) % 256))
        address=$((address + n))
    done
}
{
    records 256 5F5F51565459504532325F5F # the 2.2 marker
    # INQUIRY template: vendor "VE\0D", product "PROD" ESC "[8m", revision "1.0" BEL
    records 512 058000211F000000564500442020202050524F441B5B386D2020202020202020312E3007
    printf ':00000001FF\r\n'
} >controls.hex
run info controls.hex
expect_rc 0 "info of a model with control bytes"
grep -qxF 'FW Model Name  VE D    PROD\x1B[8m         1.0\x07  ' out || fail "control bytes row: $(cat -v out)"
! grep -q '[[:cntrl:]]' out || fail "control bytes reached the terminal: $(cat -v out)"
run info --json controls.hex
grep -qF '"model":"VE\u0000D    PROD\u001b[8m        ","version":"1.0\u0007"' out ||
    fail "control bytes in JSON: $(cat -v out)"

# Output files: written beside the target and renamed into place; a failure
# removes nothing the tool did not make.
echo keep >old.bin
run dump 2.2.hex -o old.bin
expect_rc 0 "dump over an existing file"
cmp -s old.bin 2.2.bin || fail "dump did not replace an existing file"
if [ -z "$runner" ]; then
    ln -s /dev/full full.bin
    run dump 2.2.hex -o full.bin
    expect_refusal 1 "dump to a full device"
    [ -L full.bin ] || fail "a failed dump removed a link to a device"
    echo keep >kept.bin
    ln -s kept.bin link.bin
    run dump 2.2.hex -o link.bin
    expect_rc 0 "dump through a link"
    { [ -L link.bin ] && cmp -s kept.bin 2.2.bin; } || fail "dump through a link did not keep the link"
    mkfifo pipe.bin
    cat pipe.bin >piped.bin &
    run dump 2.2.hex -o pipe.bin
    wait
    expect_rc 0 "dump into a FIFO"
    { [ -p pipe.bin ] && cmp -s piped.bin 2.2.bin; } || fail "dump replaced a FIFO"
    # A write that fails half-way (past a file size limit) leaves the old file whole.
    for target in old.hex link.hex; do
        echo keep >old.hex
        [ -e link.hex ] || ln -s old.hex link.hex
        (trap '' XFSZ && ulimit -f 16 && exec "$tool" make -o "$target") >out 2>err
        rc=$?
        expect_refusal 1 "make past a size limit into $target"
        [ "$(cat old.hex)" = keep ] || fail "a failed make into $target lost the old file"
        [ -L link.hex ] || fail "a failed make removed the link"
    done
fi
leftovers=$(find . -name '*.new*')
[ -z "$leftovers" ] || fail "files left behind: $leftovers"

[ "$failures" = 0 ] && echo "corvane-image: all checks passed"
[ "$failures" = 0 ]
