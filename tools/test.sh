#!/usr/bin/env bash
# tools/test.sh [--no-sanitizers] [--no-windows]
# Installs what is missing, builds everything and runs the whole test suite;
# makes the Debian packages from that build and checks them (lintian, an
# install into a fresh root, a scan with the installed program); then builds
# the suite again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it once more (skipped with
# --no-sanitizers); last it builds the programs with clang and the fuzz
# targets (built only: fuzz/run-fuzzers.sh runs them). The Windows stage,
# after the packages, cross-builds vallora-recover.exe and its tests with
# mingw-w64 and runs them under Wine, with the same images swept by both
# builds compared (skipped with --no-windows).
# VALLORA_WERROR=ON (as CI sets it) makes every warning an error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitizers=1
windows=1
werror=-DVALLORA_WERROR=${VALLORA_WERROR:-OFF}
for arg in "$@"; do
    case $arg in
    --no-sanitizers) sanitizers=0 ;;
    --no-windows) windows=0 ;;
    *) echo "usage: tools/test.sh [--no-sanitizers] [--no-windows]" >&2 && exit 2 ;;
    esac
done

if [ "$windows" = 1 ]; then
    "$root/tools/install-deps.sh" --windows
else
    "$root/tools/install-deps.sh"
fi

echo "== build and test ($root/build)"
# Configured for /usr, as the packages install, so packaging reuses this build.
BUILD_DIR=$root/build "$root/tools/build.sh" -DCMAKE_INSTALL_PREFIX=/usr "$werror"
ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)"

echo "== Debian packages ($root/build/packages)"
"$root/tools/package.sh" "$root/build"
"$root/tools/check-packages.sh" "$root/build"

if [ "$windows" = 1 ]; then
    echo "== Windows build, tested under Wine ($root/build-windows)"
    windows_start=$SECONDS
    BUILD_DIR=$root/build-windows "$root/tools/build.sh" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DVALLORA_BUILD_GUI=OFF \
        -DVALLORA_LINUX_BUILD="$root/build"
    ctest --test-dir "$root/build-windows" --output-on-failure -j "$(nproc)"
    echo "Windows stage: $((SECONDS - windows_start)) s"
fi

if [ "$sanitizers" = 1 ]; then
    echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer ($root/build-asan)"
    BUILD_DIR=$root/build-asan "$root/tools/build.sh" -DVALLORA_SANITIZE=ON "$werror"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$root/tools/lsan.supp \
        ctest --test-dir "$root/build-asan" --output-on-failure -j "$(nproc)"
fi

echo "== build with clang ($root/build-clang), and the fuzz targets ($root/build-fuzz/build)"
CXX=clang++ BUILD_DIR=$root/build-clang "$root/tools/build.sh" -DVALLORA_BUILD_TESTS=OFF "$werror"
CXX=clang++ cmake -S "$root" -B "$root/build-fuzz/build" -G Ninja -DVALLORA_FUZZ=ON \
    -DVALLORA_BUILD_TESTS=OFF -DVALLORA_BUILD_GUI=OFF "$werror" >/dev/null
ninja -C "$root/build-fuzz/build" -j "$(nproc)" fuzzers
