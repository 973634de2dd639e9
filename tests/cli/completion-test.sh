#!/usr/bin/env bash
# completion-test.sh COMPLETION
# What the bash completion of vallora-recover offers, word by word.
set -uo pipefail
completion=$1
failures=0
# shellcheck source=/dev/null
source "$completion"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out" "$work/other"
touch "$work/card.img" "$work/outfile"

# expect "EXPECTED WORDS" WORD...: completing the last word (which may be
# empty) after the others, as bash splits them ("--fs=ra" is "--fs" "=" "ra").
expect() {
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _vallora_recover
    local actual
    actual=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//')
    if [ "$actual" = "$expected" ]; then
        echo "ok: [$*] -> [$actual]"
    else
        echo "FAIL: [$*] offered [$actual], expected [$expected]"
        failures=$((failures + 1))
    fi
}

p=vallora-recover
expect "--fs" $p --fs
expect "--quiet" $p -q $work/card.img --qu
expect "--sector-size" $p --sec
expect "fat fat32" $p --fs f
expect "exfat ext" $p --fs e
expect "--fs=auto" $p --fs=au
expect "--sector-size=1024" $p --sector-size=10
expect "auto" $p --fs = au
expect "raw" $p --quiet --fs = r
expect "4096" $p --sector-size 4
expect "16384" $p --sector-size = 16
# SOURCE: any file (an image, or a device under /dev)
expect "$work/card.img" $p $work/ca
expect "$work/card.img" $p --fs raw --sector-size=4096 $work/ca
# OUTPUT_DIR: folders only
expect "$work/other $work/out" $p $work/card.img $work/o
expect "$work/out" $p --fs = raw $work/card.img -q $work/ou
expect "$work/out" $p --sector-size 512 $work/card.img $work/ou
# Nothing after OUTPUT_DIR; after "--" a leading "-" is a name, not an option.
expect "" $p $work/card.img $work/out $work/o
expect "" $p -- -

[ "$failures" = 0 ]
