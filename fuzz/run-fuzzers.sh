#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and runs each for a while over its seed corpus.
#
#   fuzz/run-fuzzers.sh [seconds-per-target] [target...]
#   fuzz/run-fuzzers.sh --coverage [target...]
#
# --coverage runs nothing new: it replays the corpus grown so far (and the
# seeds) through a build with source-based coverage and prints the line and
# branch coverage of the target's own files (needs llvm-profdata, llvm-cov).
#
# Targets: ntfs_volume, carving, exfat_volume, fat_volume, ext_volume
# (default: all). Work files go to $VALLORA_FUZZ_DIR
# (default build-fuzz/ in the source tree): the grown corpus, crash inputs
# under artifacts/<target>/, and a log per target. A crash ends that target's
# run with a non-zero status; keep the input as a regression seed under
# fuzz/corpus/<target>/.
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
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -fno-omit-frame-pointer -I"$root" -I"$root/fuzz" -I"$root/fixtures")

declare -A sources
sources[ntfs_volume]="fuzz/ntfs_volume_fuzzer.cpp fuzz/CNTFSFuzzEntry.cpp
    $(cd "$root" && echo ntfs/*.cpp) volume/CNTFSVolumeAccess.cpp
    volume/CNTFSAccessBuilder.cpp volume/CVolumeAccess.cpp platform/CFileDevice.cpp"
sources[carving]="fuzz/carving_fuzzer.cpp fuzz/CCarvingFuzzEntry.cpp
    $(cd "$root" && echo scan/*.cpp) volume/CVolumeAccess.cpp platform/CFileDevice.cpp
    platform/CHugePageBuffer.cpp"

volume_sources="fuzz/CVolumeFuzzEntry.cpp $(cd "$root" && echo volume/*.cpp ntfs/*.cpp)
    platform/CFileDevice.cpp platform/CFsProbe.cpp platform/CHugePageBuffer.cpp"
sources[exfat_volume]="fuzz/exfat_volume_fuzzer.cpp $volume_sources"
sources[fat_volume]="fuzz/fat_volume_fuzzer.cpp $volume_sources"
sources[ext_volume]="fuzz/ext_volume_fuzzer.cpp $volume_sources"
declare -A libraries
for target in exfat_volume fat_volume ext_volume; do
    libraries[$target]="-lblkid -lext2fs -lcom_err"
done

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=("${!sources[@]}")
fi

mkdir -p "$out"
status=0
for target in "${targets[@]}"; do
    if [ -z "${sources[$target]:-}" ]; then
        echo "unknown fuzz target: $target" >&2
        exit 2
    fi
    files=()
    for f in ${sources[$target]}; do files+=("$root/$f"); done
    corpus="$out/corpus/$target"
    seeds="$root/fuzz/corpus/$target"
    artifacts="$out/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"

    if [ "$coverage" = 1 ]; then
        binary="$out/${target}_coverage"
        echo "== building $binary"
        "$cxx" -std=c++20 -O1 -fsanitize=fuzzer -fprofile-instr-generate -fcoverage-mapping \
            -I"$root" -I"$root/fuzz" -I"$root/fixtures" "${files[@]}" ${libraries[$target]:-} -o "$binary"
        rm -f "$out/$target.profraw"
        LLVM_PROFILE_FILE="$out/$target.profraw" "$binary" -runs=0 "$corpus" "$seeds" \
            >"$out/$target-coverage.log" 2>&1
        llvm-profdata merge -sparse "$out/$target.profraw" -o "$out/$target.profdata"
        llvm-cov report "$binary" -instr-profile="$out/$target.profdata" \
            -ignore-filename-regex='(^/usr/|/fuzz/)' | sed "s|$root/||"
        continue
    fi

    binary="$out/${target}_fuzzer"
    echo "== building $binary"
    "$cxx" "${flags[@]}" "${files[@]}" ${libraries[$target]:-} -o "$binary"
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
