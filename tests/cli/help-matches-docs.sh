#!/usr/bin/env bash
# help-matches-docs.sh PROGRAM MANUAL_PAGE_SCD COMPLETION
# vallora-recover's --help, its manual page and its bash completion offer the
# same options, the same exit statuses and the same --fs values, and those
# values are exactly the ones the program accepts.
set -uo pipefail
program=$1
manual=$2
completion=$3
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# A word list, one word a line, as a sorted space-separated set.
as_set() { sed '/^$/d' | sort -u | tr '\n' ' ' | sed 's/ $//'; }
same() { # same WHAT NAME_A SET_A NAME_B SET_B
    if [ -z "$3" ] || [ "$3" != "$5" ]; then
        fail "$1 differ: $2 has [$3], $4 has [$5]"
    else
        echo "ok: $1 agree ($2 and $4): $3"
    fi
}
# The lines of one section of the manual page's source.
manual_section() { sed -n "/^# $1\$/,/^# /p" "$manual"; }

help=$("$program" --help) || fail "$program --help failed"

# --help: "  -q, --quiet       text" and "  --fs TYPE         text" lines.
help_options=$(printf '%s\n' "$help" | grep -E '^  -' | sed -E 's/^  //; s/ {2,}.*$//' |
    grep -oE '(^|[ ,])--?[A-Za-z][A-Za-z0-9-]*' | tr -d ' ,' | as_set)
# Manual page: "*-q*, *--quiet*" and "*--fs* auto|raw" lines under OPTIONS.
manual_options=$(manual_section OPTIONS | grep -E '^\*-' |
    grep -oE '\*--?[A-Za-z][A-Za-z0-9-]*\*' | tr -d '*' | as_set)
# Completion: what it offers for a lone "-".
# shellcheck source=/dev/null
source "$completion"
offered() { # offered WORD...: the completion's answer for these words
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _vallora_recover
    printf '%s\n' "${COMPREPLY[@]}" | as_set
}
completion_options=$(offered vallora-recover -)

same "options" "--help" "$help_options" "the manual page" "$manual_options"
same "options" "--help" "$help_options" "the completion" "$completion_options"

# Exit statuses: "  3  text" lines after "Exit status:"; "*3*" lines under EXIT STATUS.
help_statuses=$(printf '%s\n' "$help" | sed -n '/^Exit status:/,$p' |
    grep -oE '^  [0-9]+  ' | tr -d ' ' | as_set)
manual_statuses=$(manual_section "EXIT STATUS" | grep -E '^\*[0-9]+\*$' | tr -d '*' | as_set)
same "exit statuses" "--help" "$help_statuses" "the manual page" "$manual_statuses"

# --fs values: the program names them when given a wrong one
# ("invalid file system 'x': use a, b or c (try ...)").
message=$("$program" --fs no-such-file-system x y 2>&1 >/dev/null)
program_values=$(printf '%s\n' "$message" | sed -nE 's/.*: use ([^(]*).*$/\1/p' |
    sed -E 's/ or /, /g; s/[ .;]+$//' | tr ',' '\n' | tr -d ' ' | as_set)
manual_values=$(manual_section OPTIONS | sed -nE 's/^\*--fs\* +//p' | tr '|' '\n' |
    tr -d '*_ ' | as_set)
completion_values=$(offered vallora-recover --fs "")
same "--fs values" "the program's error message" "$program_values" "the manual page" \
    "$manual_values"
same "--fs values" "the program's error message" "$program_values" "the completion" \
    "$completion_values"
for value in $manual_values $completion_values; do
    "$program" --fs "$value" --version >/dev/null 2>&1 ||
        fail "the program refuses --fs $value, which the documentation offers"
done

[ "$failures" = 0 ]
