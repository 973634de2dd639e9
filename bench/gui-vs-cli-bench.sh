#!/usr/bin/env bash
# gui-vs-cli-bench.sh [BUILD_DIR] [SIZE_MIB] [ROUNDS]
# The desktop program's scan against the command-line program's on the same
# image: an image of noise with JPEG photos at sector-aligned offsets is
# swept by `vallora-recover` and by `vallora-gui-bench` (the dialogs driven
# as a user would, under Xvfb when there is no display) alternately. The GUI
# time runs from "开始扫描" to the end of the program, so Qt's own start-up
# is left out; the CLI time is the whole process. Prints each round, the
# best times and the GUI's slowdown, and fails when it exceeds 10%.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
size_mib=${2:-2048}
rounds=${3:-3}
if [ -n "${BENCH_DIR:-}" ]; then
    work=$BENCH_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d /var/tmp/vallora-gui-bench.XXXXXX)
    trap 'rm -rf "$work"' EXIT
fi
image=$work/noise-${size_mib}.img
recover=$build/cli/vallora-recover
gui=$build/bench/vallora-gui-bench
maker=$build/tools/vallora-make-jpeg
for tool in "$recover" "$gui" "$maker"; do
    [ -x "$tool" ] || { echo "build first: $tool" >&2; exit 2; }
done

"$root/bench/make-noise-image.sh" "$maker" "$image" "$size_mib"
cat "$image" >/dev/null # warm the page cache

# The GUI runs on the display there is, else on a virtual one.
run_gui() {
    if [ -n "${DISPLAY:-}" ] || [ "${QT_QPA_PLATFORM:-}" = offscreen ]; then
        "$gui" "$@"
    else
        xvfb-run -a -s "-screen 0 1024x768x24" "$gui" "$@"
    fi
}

now() { date +%s.%N; }
best_cli=
best_gui=
for ((r = 1; r <= rounds; r++)); do
    rm -rf "$work/out-cli" "$work/out-gui"
    mkdir "$work/out-cli" "$work/out-gui"
    t0=$(now)
    "$recover" "$image" "$work/out-cli" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
    t1=$(now)
    cli=$(echo "$t1 - $t0" | bc -l)
    gui_time=$(run_gui "$image" "$work/out-gui" 2>"$work/gui-err" | tail -n 1) ||
        { cat "$work/gui-err" >&2; exit 1; }
    n_cli=$(ls "$work/out-cli" | wc -l)
    n_gui=$(ls "$work/out-gui" | wc -l)
    printf 'round %d: cli %.3f s (%d files), gui %.3f s (%d files)\n' \
        "$r" "$cli" "$n_cli" "$gui_time" "$n_gui"
    [ "$n_cli" -eq "$n_gui" ] || { echo "the two programs recovered different counts" >&2; exit 1; }
    if [ -z "$best_cli" ] || (($(echo "$cli < $best_cli" | bc -l))); then best_cli=$cli; fi
    if [ -z "$best_gui" ] || (($(echo "$gui_time < $best_gui" | bc -l))); then best_gui=$gui_time; fi
done
slowdown=$(echo "($best_gui / $best_cli - 1) * 100" | bc -l)
mib_s=$(echo "$size_mib / $best_gui" | bc -l)
printf 'best: cli %.3f s, gui %.3f s (%.0f MiB/s); gui slower by %.1f%%\n' \
    "$best_cli" "$best_gui" "$mib_s" "$slowdown"
if (($(echo "$slowdown > 10" | bc -l))); then
    echo "FAIL: the GUI scan is more than 10% slower than the CLI" >&2
    exit 1
fi
