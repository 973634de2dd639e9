#!/usr/bin/env bash
# tools/test.sh [--no-sanitizers]
# Installs what is missing, builds everything and runs the whole test suite;
# makes the Debian packages from that build and checks them (lintian, an
# install into a fresh root, a scan with the installed program); then builds
# the suite again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it once more (skipped with
# --no-sanitizers); last it builds the programs with clang and the fuzz
# targets (built only: fuzz/run-fuzzers.sh runs them).
# VALLORA_WERROR=ON (as CI sets it) makes every warning an error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitizers=1
werror=-DVALLORA_WERROR=${VALLORA_WERROR:-OFF}
[ "${1:-}" = "--no-sanitizers" ] && sanitizers=0

"$root/tools/install-deps.sh"

echo "== build and test ($root/build)"
# Configured for /usr, as the packages install, so packaging reuses this build.
BUILD_DIR=$root/build "$root/tools/build.sh" -DCMAKE_INSTALL_PREFIX=/usr "$werror"
ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)"

echo "== Debian packages ($root/build/packages)"
"$root/tools/package.sh" "$root/build"
"$root/tools/check-packages.sh" "$root/build"

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
