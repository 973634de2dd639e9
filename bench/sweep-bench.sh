#!/usr/bin/env bash
# sweep-bench.sh [BUILD_DIR] [SIZE_MIB] [ROUNDS]
# Sweep throughput against cat: builds an image of noise with JPEG photos at
# sector-aligned offsets, warms the page cache, then times `cat IMG >
# /dev/null` and a raw vallora-recover sweep alternately. Prints each
# round, the best times, the ratio of the sweep's throughput to cat's, and
# the sweep's peak resident memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
size_mib=${2:-2048}
rounds=${3:-3}
# BENCH_DIR keeps the image between runs (it is made once per size).
if [ -n "${BENCH_DIR:-}" ]; then
    work=$BENCH_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d /var/tmp/vallora-bench.XXXXXX)
    trap 'rm -rf "$work"' EXIT
fi
image=$work/noise-${size_mib}.img
recover=$build/cli/vallora-recover
maker=$build/tests/fixtures/vallora-make-jpeg
[ -x "$recover" ] && [ -x "$maker" ] || { echo "build first: $recover, $maker" >&2; exit 2; }

"$root/bench/make-noise-image.sh" "$maker" "$image" "$size_mib"
cat "$image" >/dev/null # warm the page cache

now() { date +%s.%N; }
best_cat=
best_sweep=
rss=
for ((r = 1; r <= rounds; r++)); do
    t0=$(now); cat "$image" >/dev/null; t1=$(now)
    rm -rf "$work/out"; mkdir "$work/out"
    t2=$(now)
    /usr/bin/time -f '%M' -o "$work/rss" "$recover" -q --fs raw "$image" "$work/out" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; exit 1; }
    t3=$(now)
    c=$(echo "$t1 - $t0" | bc -l); s=$(echo "$t3 - $t2" | bc -l)
    rss=$(tail -n 1 "$work/rss")
    printf 'round %d: cat %.3f s, sweep %.3f s (%d photos recovered)\n' "$r" "$c" "$s" "$(ls "$work/out" | wc -l)"
    if [ -z "$best_cat" ] || (($(echo "$c < $best_cat" | bc -l))); then best_cat=$c; fi
    if [ -z "$best_sweep" ] || (($(echo "$s < $best_sweep" | bc -l))); then best_sweep=$s; fi
done
mib=$size_mib
printf 'cat:   %.3f s  (%.0f MiB/s)\n' "$best_cat" "$(echo "$mib / $best_cat" | bc -l)"
printf 'sweep: %.3f s  (%.0f MiB/s)\n' "$best_sweep" "$(echo "$mib / $best_sweep" | bc -l)"
printf 'throughput ratio sweep/cat: %.2f\n' "$(echo "$best_cat / $best_sweep" | bc -l)"
printf 'sweep peak RSS: %d KiB\n' "$rss"
