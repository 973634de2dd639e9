#!/usr/bin/env bash
# sweep-bench.sh [BUILD_DIR] [SIZE_MIB] [ROUNDS]
# Sweep throughput against cat: builds an image of noise with JPEG photos at
# sector-aligned offsets, warms the page cache, then times `cat IMG >
# /dev/null`, a raw vallora-recover sweep and a raw --thorough sweep
# alternately. Prints each round, the best times, the ratios of cat's time
# to the sweeps' (throughput), the median times of cat and the sweep and
# their ratio, and the sweeps' peak resident memory.
# Then (DENSE_MIB, default SIZE_MIB; 0 skips it) an image that is nearly all
# photos, where the thorough mode's decoding dominates: its MB/s and the CPU
# time of each of its threads (the sweep and the decoder).
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
maker=$build/tools/vallora-make-jpeg
[ -x "$recover" ] && [ -x "$maker" ] || { echo "build first: $recover, $maker" >&2; exit 2; }

"$root/bench/make-noise-image.sh" "$maker" "$image" "$size_mib"
cat "$image" >/dev/null # warm the page cache

now() { date +%s.%N; }
# sweep IMAGE [OPTION...]: one raw sweep into a fresh folder; sets secs, rss, files.
sweep() {
    local img=$1
    shift
    rm -rf "$work/out"; mkdir "$work/out"
    local t0 t1
    t0=$(now)
    /usr/bin/time -f '%M' -o "$work/rss" "$recover" -q --fs raw "$@" "$img" "$work/out" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; exit 1; }
    t1=$(now)
    secs=$(echo "$t1 - $t0" | bc -l)
    rss=$(tail -n 1 "$work/rss")
    files=$(ls "$work/out" | wc -l)
}
better() { [ -z "$2" ] || (($(echo "$1 < $2" | bc -l))); }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
cats=()
sweeps=()
best_cat=
best_sweep=
best_thorough=
for ((r = 1; r <= rounds; r++)); do
    t0=$(now); cat "$image" >/dev/null; t1=$(now)
    c=$(echo "$t1 - $t0" | bc -l)
    sweep "$image"
    s=$secs; rss_sweep=$rss; n=$files
    sweep "$image" --thorough
    printf 'round %d: cat %.3f s, sweep %.3f s (%d photos), thorough %.3f s (%d photos)\n' \
        "$r" "$c" "$s" "$n" "$secs" "$files"
    rss_thorough=$rss
    cats+=("$c")
    sweeps+=("$s")
    if better "$c" "$best_cat"; then best_cat=$c; fi
    if better "$s" "$best_sweep"; then best_sweep=$s; fi
    if better "$secs" "$best_thorough"; then best_thorough=$secs; fi
done
mib=$size_mib
printf 'cat:      %.3f s  (%.0f MiB/s)\n' "$best_cat" "$(echo "$mib / $best_cat" | bc -l)"
printf 'sweep:    %.3f s  (%.0f MiB/s)\n' "$best_sweep" "$(echo "$mib / $best_sweep" | bc -l)"
printf 'thorough: %.3f s  (%.0f MiB/s)\n' "$best_thorough" "$(echo "$mib / $best_thorough" | bc -l)"
printf 'throughput ratio sweep/cat: %.2f\n' "$(echo "$best_cat / $best_sweep" | bc -l)"
mc=$(median "${cats[@]}")
ms=$(median "${sweeps[@]}")
printf 'medians: cat %.3f s, sweep %.3f s: sweep time / cat time %.3f\n' "$mc" "$ms" "$(echo "$ms / $mc" | bc -l)"
printf 'time ratio thorough/cat: %.2f\n' "$(echo "$best_thorough / $best_cat" | bc -l)"
printf 'peak RSS: sweep %d KiB, thorough %d KiB\n' "$rss_sweep" "$rss_thorough"

dense_mib=${DENSE_MIB:-$size_mib}
[ "$dense_mib" -gt 0 ] || exit 0
dense=$work/dense-${dense_mib}.img
"$root/bench/make-dense-image.sh" "$maker" "$dense" "$dense_mib"
cat "$dense" >/dev/null
rm -rf "$work/out"; mkdir "$work/out"
# CPU time per thread, sampled from /proc while the thorough sweep runs.
tick=$(getconf CLK_TCK)
declare -A cpu
t0=$(now)
"$recover" -q --fs raw --thorough "$dense" "$work/out" >/dev/null 2>"$work/err" &
pid=$!
while kill -0 "$pid" 2>/dev/null; do
    for stat in /proc/"$pid"/task/*/stat; do
        read -r -a f <"$stat" 2>/dev/null || continue
        # Fields after the command name: utime and stime are the 14th and
        # 15th of the whole line (the name holds no spaces here).
        cpu[${f[0]}]=$((f[13] + f[14]))
    done 2>/dev/null
    sleep 0.2
done
wait "$pid" || { cat "$work/err" >&2; exit 1; }
t1=$(now)
secs=$(echo "$t1 - $t0" | bc -l)
printf 'photo-dense image, thorough: %.3f s, %.0f MB/s, %d photos written\n' "$secs" \
    "$(echo "$dense_mib * 1.048576 / $secs" | bc -l)" "$(ls "$work/out" | wc -l)"
for tid in "${!cpu[@]}"; do
    printf '  thread %s: %.1f s of CPU (%.0f%% of the run)\n' "$tid" \
        "$(echo "${cpu[$tid]} / $tick" | bc -l)" "$(echo "${cpu[$tid]} / $tick * 100 / $secs" | bc -l)"
done
