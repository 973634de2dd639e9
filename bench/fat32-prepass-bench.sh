#!/usr/bin/env bash
# fat32-prepass-bench.sh [BUILD_DIR] [ROUNDS]
# The FAT32 pre-pass on the largest FAT a FAT32 volume can have: a sparse
# image of 130 GiB made with mkfs.fat (512-byte sectors and clusters: 2^28
# FAT entries, a 1 GiB FAT). Times, warm cache, opening the volume (reading
# the first FAT into memory) and counting its free clusters
# (vallora-fat-count-bench, which also counts them with one isClusterUsed
# call per cluster for contrast) against dd reading the same FAT bytes, and
# prints the medians, the ratio and the peak resident memory.
# The image takes 2 GiB of disk (its two FATs); WORK_DIR keeps it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
rounds=${2:-5}
bench=$build/bench/vallora-fat-count-bench
[ -x "$bench" ] || { echo "build first: $bench" >&2; exit 2; }
export PATH=$PATH:/usr/sbin:/sbin
command -v mkfs.fat >/dev/null || { echo "needs mkfs.fat (dosfstools)" >&2; exit 2; }
if [ -n "${WORK_DIR:-}" ]; then
    work=$WORK_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d /var/tmp/vallora-prepass.XXXXXX)
    trap 'rm -rf "$work"' EXIT
fi
image=$work/fat28.img
if [ ! -f "$image" ]; then
    truncate -s 130G "$image"
    mkfs.fat -F 32 -s 1 -S 512 "$image" >/dev/null
fi
field() { od -An -t "u$2" -j "$1" -N "$2" "$image" | tr -d ' '; }
reserved=$(field 14 2)
per_fat=$(field 36 4)
fat_bytes=$((per_fat * 512))
printf 'FAT of %d entries (%d MiB)\n' $((fat_bytes / 4)) $((fat_bytes >> 20))
dd if="$image" of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip=$((reserved * 512)) \
    count="$fat_bytes" status=none # warm the cache

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
dds=()
opens=()
counts=()
calls=()
prepass=()
for ((r = 1; r <= rounds; r++)); do
    t0=$(now)
    dd if="$image" of=/dev/null bs=1M iflag=skip_bytes,count_bytes skip=$((reserved * 512)) \
        count="$fat_bytes" status=none
    t1=$(now)
    d=$(echo "$t1 - $t0" | bc -l)
    line=$("$bench" "$image" | tail -n 1)
    read -r o c k rss < <(echo "$line" | sed -E 's/^open ([0-9.]+) s, count ([0-9.]+) s, count by calls ([0-9.]+) s.*peak RSS ([0-9]+) KiB.*/\1 \2 \3 \4/')
    dds+=("$d")
    opens+=("$o")
    counts+=("$c")
    calls+=("$k")
    prepass+=("$(echo "$o + $c" | bc -l)")
    printf 'round %d: dd %.3f s; open %.3f s + count %.3f s (by calls %.3f s), peak RSS %d KiB\n' \
        "$r" "$d" "$o" "$c" "$k" "$rss"
done
md=$(median "${dds[@]}")
mp=$(median "${prepass[@]}")
printf 'median: dd %.3f s, pre-pass (open + count) %.3f s = %.2f x dd; count alone %.3f s, by calls %.3f s\n' \
    "$md" "$mp" "$(echo "$mp / $md" | bc -l)" "$(median "${counts[@]}")" "$(median "${calls[@]}")"
