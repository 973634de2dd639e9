#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (CMake, VALLORA_FUZZ=ON: address
# and undefined-behaviour sanitizers) and runs each for a while over its
# seed corpus.
#
#   fuzz/run-fuzzers.sh [seconds-per-target] [target...]
#   fuzz/run-fuzzers.sh --coverage [target...]
#
# --coverage runs nothing new: it replays the corpus grown so far (and the
# seeds) through a build with source-based coverage and prints the line and
# branch coverage of the target's own files (needs llvm-profdata, llvm-cov).
#
# Targets: carving, ntfs_volume, exfat_volume, fat_volume, fat32_volume,
# ext_volume (default: all). Work files go to $VALLORA_FUZZ_DIR (default
# build-fuzz/ in the source tree): the build, the grown corpus, crash inputs
# under artifacts/<target>/, and a log per target. A crash ends that
# target's run with a non-zero status; keep the input as a regression seed
# under fuzz/corpus/<target>/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${VALLORA_FUZZ_DIR:-$root/build-fuzz}
coverage=0
if [ "${1:-}" = "--coverage" ]; then
    coverage=1
    shift
    seconds=0
else
    seconds=${1:-600}
    [ $# -gt 0 ] && shift
fi
cxx=${VALLORA_FUZZ_CXX:-clang++}
all=(carving ntfs_volume exfat_volume fat_volume fat32_volume ext_volume resume_file)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=("${all[@]}")
fi
for target in "${targets[@]}"; do
    if [[ ! " ${all[*]} " == *" $target "* ]]; then
        echo "unknown fuzz target: $target" >&2
        exit 2
    fi
done

build=$out/build
cmake_args=(-DVALLORA_FUZZ=ON -DVALLORA_BUILD_TESTS=OFF -DVALLORA_BUILD_GUI=OFF
            -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "$coverage" = 1 ]; then
    build=$out/build-coverage
    cmake_args+=(-DVALLORA_FUZZ_SANITIZERS= "-DCMAKE_CXX_FLAGS=-fprofile-instr-generate -fcoverage-mapping"
                 "-DCMAKE_EXE_LINKER_FLAGS=-fprofile-instr-generate")
fi
mkdir -p "$out"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
CXX=$cxx cmake -S "$root" -B "$build" "${generator[@]}" "${cmake_args[@]}" >"$out/cmake.log"
cmake --build "$build" --target $(printf '%s_fuzzer ' "${targets[@]}") -j "$(nproc)"

status=0
for target in "${targets[@]}"; do
    binary="$build/fuzz/${target}_fuzzer"
    corpus="$out/corpus/$target"
    seeds="$root/fuzz/corpus/$target"
    artifacts="$out/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"

    if [ "$coverage" = 1 ]; then
        rm -f "$out/$target.profraw"
        LLVM_PROFILE_FILE="$out/$target.profraw" "$binary" -runs=0 "$corpus" "$seeds" \
            >"$out/$target-coverage.log" 2>&1
        llvm-profdata merge -sparse "$out/$target.profraw" -o "$out/$target.profdata"
        llvm-cov report "$binary" -instr-profile="$out/$target.profdata" \
            -ignore-filename-regex='(^/usr/|/fuzz/|/fixtures/)' | sed "s|$root/||"
        continue
    fi

    echo "== running $target for ${seconds}s (log: $out/$target.log)"
    if ! "$binary" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 -close_fd_mask=1 \
            -timeout=10 -artifact_prefix="$artifacts" "$corpus" "$seeds" \
            >"$out/$target.log" 2>&1; then
        echo "!! $target found a failure; see $out/$target.log and $artifacts" >&2
        status=1
    fi
    grep -E '^#[0-9]+.*(DONE|pulse)|stat::number_of_executed_units|cov:' "$out/$target.log" |
        tail -n 3 || true
done
exit $status
