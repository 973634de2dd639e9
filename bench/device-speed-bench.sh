#!/usr/bin/env bash
# device-speed-bench.sh [BUILD_DIR] [SIZE_MIB] [ROUNDS]
# The raw sweep of a block device against dd reading the same device with
# direct I/O, at device speeds: a noise image with photos is attached as a
# read-only loop device (its file kept in /dev/shm, so that the loop device
# is the only slow part), and every read of the device is throttled with a
# cgroup blkio limit (cgroup v1 blkio.throttle.read_bps_device, or cgroup v2
# io.max) to each rate of RATES_MBS (default "800 100": a fast SSD, an SD
# card). The loop device reads its file with direct I/O where the kernel
# allows it (losetup --direct-io=on), as a disk would: no second page cache.
# The page cache is dropped before every run. Prints each pair with the
# reads the device saw (from /sys/block/loopN/stat: requests, their mean
# size, the mean number in flight), then per rate the medians and the
# sweep's share of dd's throughput. The image is 2 GiB by default, so that
# the program's fixed costs (starting, opening the volume, writing the
# photos found: some 50 ms here) weigh little against the sweep.
# Needs root (loop devices, cgroups, drop_caches).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
size_mib=${2:-2048}
rounds=${3:-3}
rates=${RATES_MBS:-800 100}
recover=$build/cli/vallora-recover
maker=$build/tools/vallora-make-jpeg
[ -x "$recover" ] && [ -x "$maker" ] || { echo "build first: $recover, $maker" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "needs root: loop devices, cgroups, drop_caches" >&2; exit 2; }

shm=$(mktemp -d /dev/shm/vallora-devbench.XXXXXX)
work=$(mktemp -d /var/tmp/vallora-devbench.XXXXXX)
loop=
group=
cleanup() {
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
    if [ -n "$group" ] && [ -d "$group" ]; then
        rmdir "$group" 2>/dev/null || true
    fi
    rm -rf "$shm" "$work"
}
trap cleanup EXIT

image=$shm/noise.img
"$root/bench/make-noise-image.sh" "$maker" "$image" "$size_mib"
# Read-only: the source is evidence, also here.
loop=$(losetup -r -f --show --direct-io=on "$image" 2>/dev/null || losetup -r -f --show "$image")
devnum=$(lsblk -dno MAJ:MIN "$loop" | tr -d ' ')
stat=/sys/block/${loop#/dev/}/stat

if [ -f /sys/fs/cgroup/blkio/blkio.throttle.read_bps_device ]; then
    group=/sys/fs/cgroup/blkio/vallora-devbench-$$
    mkdir "$group"
    limit() { echo "$devnum $(($1 * 1000000))" >"$group/blkio.throttle.read_bps_device"; }
elif [ -f /sys/fs/cgroup/cgroup.controllers ]; then
    echo "+io" >/sys/fs/cgroup/cgroup.subtree_control 2>/dev/null || true
    group=/sys/fs/cgroup/vallora-devbench-$$
    mkdir "$group"
    limit() { echo "$devnum rbps=$(($1 * 1000000))" >"$group/io.max"; }
else
    echo "no blkio or io cgroup controller" >&2
    exit 2
fi

now() { date +%s.%N; }
# throttled COMMAND...: runs the command inside the limited group, caches
# dropped first; sets secs and seen (the device's reads: count, mean KiB,
# mean in flight).
throttled() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
    local t0 t1 s0 s1
    read -r -a s0 <"$stat"
    t0=$(now)
    sh -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$group" "$@" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; exit 1; }
    t1=$(now)
    read -r -a s1 <"$stat"
    secs=$(echo "$t1 - $t0" | bc -l)
    # Fields: reads completed (0), sectors read (2), ms spent reading (3).
    local n=$((s1[0] - s0[0])) kib=$(((s1[2] - s0[2]) / 2)) ms=$((s1[3] - s0[3]))
    seen="$n reads of $((n ? kib / n : 0)) KiB, $(echo "$ms / ($secs * 1000)" | bc -l | cut -c1-4) in flight"
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

bytes=$((size_mib * 1048576))
printf 'device %s (%d MiB, read-only loop of %s, direct I/O %s, max_sectors_kb %s)\n' "$loop" \
    "$size_mib" "$image" "$(cat "/sys/block/${loop#/dev/}/loop/dio")" \
    "$(cat "/sys/block/${loop#/dev/}/queue/max_sectors_kb")"
for rate in $rates; do
    limit "$rate"
    dds=()
    sweeps=()
    for ((r = 1; r <= rounds; r++)); do
        throttled dd if="$loop" of=/dev/null bs=16M iflag=direct
        d=$secs
        dd_seen=$seen
        rm -rf "$work/out"
        mkdir "$work/out"
        throttled "$recover" -q --fs raw --no-report "$loop" "$work/out"
        s=$secs
        dds+=("$d")
        sweeps+=("$s")
        printf '%4d MB/s round %d: dd %.2f s (%.0f MB/s; %s), sweep %.2f s (%.0f MB/s, %d photos; %s)\n' \
            "$rate" "$r" "$d" "$(echo "$bytes / $d / 1000000" | bc -l)" "$dd_seen" "$s" \
            "$(echo "$bytes / $s / 1000000" | bc -l)" "$(ls "$work/out" | wc -l)" "$seen"
    done
    md=$(median "${dds[@]}")
    ms=$(median "${sweeps[@]}")
    printf '%4d MB/s median: dd %.2f s, sweep %.2f s: the sweep reaches %.3f of dd\n' \
        "$rate" "$md" "$ms" "$(echo "$md / $ms" | bc -l)"
done
