#!/usr/bin/env bash
# two-piece-bench.sh [BUILD_DIR] [COUNT] [ROUNDS]
# What the search for photos' second pieces costs the thorough mode on an
# image full of broken photos: 256 MiB of noise with COUNT photos (default
# 200, made by vallora-make-jpeg) of which only the first 40% is left, noise
# after it, so every one breaks off and is searched for (its 32 MiB window,
# its joins decoded) in vain; against the same noise without the photos.
# Prints the thorough sweep's time of both (best of ROUNDS), the difference
# per broken photo, and the files written (none should be).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
count=${2:-200}
rounds=${3:-3}
recover=$build/cli/vallora-recover
maker=$build/tools/vallora-make-jpeg
[ -x "$recover" ] && [ -x "$maker" ] || { echo "build first: $recover, $maker" >&2; exit 2; }
work=$(mktemp -d /var/tmp/vallora-two-piece.XXXXXX)
trap 'rm -rf "$work"' EXIT

size_mib=256
head -c $((size_mib << 20)) /dev/urandom >"$work/plain.img"
cp "$work/plain.img" "$work/broken.img"
step=$((size_mib * 2048 / count))
for ((i = 0; i < count; i++)); do
    "$maker" jfif $((640 + i % 9 * 32)) 480 "$i" "$work/photo.jpg"
    len=$(stat -c %s "$work/photo.jpg")
    head -c $((len * 2 / 5)) "$work/photo.jpg" >"$work/piece"
    dd if="$work/piece" of="$work/broken.img" bs=512 seek=$((i * step + 64)) conv=notrunc status=none
done
cat "$work/plain.img" "$work/broken.img" >/dev/null # warm the page cache

now() { date +%s.%N; }
# sweep IMAGE: sets secs and files
sweep() {
    rm -rf "$work/out"; mkdir "$work/out"
    local t0 t1
    t0=$(now)
    "$recover" -q --fs raw --thorough "$1" "$work/out" >/dev/null 2>&1 || true
    t1=$(now)
    secs=$(echo "$t1 - $t0" | bc -l)
    files=$(find "$work/out" -name '*.jpg' | wc -l)
}
best_plain=
best_broken=
for ((r = 1; r <= rounds; r++)); do
    sweep "$work/plain.img"
    plain_secs=$secs
    [ -z "$best_plain" ] || (($(echo "$secs < $best_plain" | bc -l))) && best_plain=$secs
    plain_files=$files
    sweep "$work/broken.img"
    [ -z "$best_broken" ] || (($(echo "$secs < $best_broken" | bc -l))) && best_broken=$secs
    broken_files=$files
    printf 'round %d: noise %.3f s, with %d broken photos %.3f s\n' "$r" "$plain_secs" "$count" "$secs"
done
printf 'thorough sweep, %d MiB of noise:             %.3f s (%d files written)\n' \
    "$size_mib" "$best_plain" "$plain_files"
printf 'the same with %d broken photos:            %.3f s (%d files written)\n' \
    "$count" "$best_broken" "$broken_files"
printf 'added by the second-piece search:           %.3f s (%.1f ms a broken photo)\n' \
    "$(echo "$best_broken - $best_plain" | bc -l)" \
    "$(echo "($best_broken - $best_plain) * 1000 / $count" | bc -l)"
