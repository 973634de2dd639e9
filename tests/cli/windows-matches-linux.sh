#!/usr/bin/env bash
# windows-matches-linux.sh LINUX_BUILD WINDOWS_PROGRAM WORK_DIR
# Sweeps the same images with the Linux vallora-recover and the Windows
# vallora-recover.exe (under Wine): the FAT32 sample card by its free
# clusters and whole (--fs raw), and an image of noise with photos. The
# recovered files must be the same, byte for byte, and so must the geometry
# and the summary each prints (the run time aside). The Windows side writes
# into a folder with a Chinese name. Needs mkfs.vfat and mtools.
set -euo pipefail
linux_build=$1
windows_program=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
wine=${VALLORA_WINE:-wine}

rm -rf "$work"
mkdir -p "$work"
"$root/tools/make-sample-image.sh" "$linux_build" "$work/card.img" >/dev/null
"$root/bench/make-noise-image.sh" "$linux_build/tools/vallora-make-jpeg" \
    "$work/noise.img" 8 >/dev/null

# A path as Wine's programs see it (drive Z: is the Unix root).
windows_path() {
    local path=$1
    echo "Z:${path//\//\\}"
}

# What the two runs must share: the geometry lines and the summary, without
# the run time.
comparable() {
    grep -E '^(File system|Access|Sector size|Cluster size|Clusters|Volume|Warning|扫描|Recovered)' "$1" |
        sed -E 's/用时[0-9]+秒/用时N秒/; s/ into .*$//' | tr -d '\r'
}

failed=0
run_case() {
    local name=$1
    shift
    local image=$1
    shift
    local linux_out=$work/linux-$name
    local windows_out=$work/windows/恢复-$name
    mkdir -p "$linux_out" "$windows_out"
    local linux_status=0 windows_status=0
    "$linux_build/cli/vallora-recover" -q --no-report --no-dates "$@" "$image" "$linux_out" \
        >"$work/$name.linux.log" 2>&1 || linux_status=$?
    "$wine" "$windows_program" -q --no-report --no-dates "$@" "$(windows_path "$image")" \
        "$(windows_path "$windows_out")" >"$work/$name.windows.log" 2>&1 || windows_status=$?
    local count
    count=$(find "$linux_out" -name '*.jpg' | wc -l)
    if [ "$linux_status" != "$windows_status" ]; then
        echo "FAIL $name: exit status $linux_status on Linux, $windows_status under Wine"
        failed=1
    elif ! diff -r "$linux_out" "$windows_out" >/dev/null; then
        echo "FAIL $name: the recovered files differ"
        diff -r "$linux_out" "$windows_out" | head -5
        failed=1
    elif ! diff <(comparable "$work/$name.linux.log") <(comparable "$work/$name.windows.log"); then
        echo "FAIL $name: the geometry or summary differs"
        failed=1
    elif [ "$count" -eq 0 ]; then
        echo "FAIL $name: nothing was recovered"
        failed=1
    else
        echo "ok   $name: $count photos, the same bytes; exit status $linux_status"
    fi
}

run_case fat32 "$work/card.img"
run_case fat32-raw "$work/card.img" --fs raw
run_case noise "$work/noise.img"
if [ "$failed" != 0 ]; then
    echo "--- logs in $work"
    exit 1
fi
