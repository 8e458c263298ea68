#!/usr/bin/env bash
# The bash completion of both tools: a table of command lines and what they
# complete to, in a folder of our own; and every option a command's --help
# names is one it completes.
# Usage: CompletionTest.sh COMPLETION CORVANE CORVANE-IMAGE
set -u
export LC_ALL=C
completion=$1
declare -A tools=([corvane]=$2 [corvane-image]=$3)
work=$(mktemp -d "${TMPDIR:-/tmp}/completion-$$-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# shellcheck source=resources/package/corvane.bash-completion
source "$completion"
# shellcheck disable=SC2034 # read by the completion
_corvane_devices="$work/sg*"
mkdir images
touch a.hex IMG.HEX b.txt sg0 sg1 images/c.hex
failures=0

# What a line completes to, sorted, one line; a line ending in a blank
# completes an empty word.
complete_line() { # line
    local line=$1 function
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    function=$(complete -p "${COMP_WORDS[0]}" | sed -E 's/.*-F ([^ ]+) .*/\1/')
    COMPREPLY=()
    "$function"
    [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '
}

while IFS='|' read -r line want; do
    got=$(complete_line "$line")
    [ "$got" = "$want" ] || { echo "FAIL: '$line' completes to '$got', expected '$want'"; failures=$((failures + 1)); }
done <<EOF
corvane |--help --version flash help scan
corvane fl|flash
corvane scan --|--bank --help --json --version
corvane flash --d|--device --dry-run
corvane flash |IMG.HEX a.hex images
corvane flash images/|images/c.hex
corvane flash a.hex --device |$work/sg0 $work/sg1
corvane flash a.hex --device $work/sg1|$work/sg1
corvane flash a.hex --log |IMG.HEX a.hex b.txt images sg0 sg1
corvane-image |--help --version dump info make
corvane-image info --|--help --json --version
corvane-image dump a.hex -o b|b.txt
corvane-image make --protocol |2.0 2.1 2.2 none
corvane-image make --protocol 2|2.0 2.1 2.2
corvane-image make --vendor |
corvane-image make --n|--no-template
corvane-image make |
corvane-image frobnicate |
EOF

# Every option of every command's help text (its usage line and option
# lines) is one the completion offers.
for command in "corvane scan" "corvane flash" "corvane-image info" "corvane-image dump" "corvane-image make"; do
    read -r tool sub <<<"$command"
    offered=" $(complete_line "$tool $sub -") "
    named=$("${tools[$tool]}" "$sub" --help | sed -n '1p;/^ \+\[\?-/p' |
        grep -oE '(^|[ [])--?[a-z][a-z-]*' | tr -d ' [' | sort -u)
    [ -n "$named" ] || { echo "FAIL: no options in '$command --help'"; failures=$((failures + 1)); }
    for option in $named; do
        [[ $offered == *" $option "* ]] || { echo "FAIL: '$command' does not complete $option"; failures=$((failures + 1)); }
    done
done

[ "$failures" = 0 ] && echo "completion: all checks passed"
[ "$failures" = 0 ]
