#!/usr/bin/env bash
# tools/test.sh [--no-sanitizers]
# Installs what is missing, builds everything and runs the whole test suite;
# makes the Debian packages from that build and checks them (lintian, an
# install into a fresh root, a scan with the installed program); then builds
# the suite again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it once more (skipped with
# --no-sanitizers).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitizers=1
[ "${1:-}" = "--no-sanitizers" ] && sanitizers=0

"$root/tools/install-deps.sh"

echo "== build and test ($root/build)"
# Configured for /usr, as the packages install, so packaging reuses this build.
BUILD_DIR=$root/build "$root/tools/build.sh" -DCMAKE_INSTALL_PREFIX=/usr
ctest --test-dir "$root/build" --output-on-failure -j "$(nproc)"

echo "== Debian packages ($root/build/packages)"
"$root/tools/package.sh" "$root/build"
"$root/tools/check-packages.sh" "$root/build"

if [ "$sanitizers" = 1 ]; then
    echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer ($root/build-asan)"
    BUILD_DIR=$root/build-asan "$root/tools/build.sh" -DVALLORA_SANITIZE=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$root/tools/lsan.supp \
        ctest --test-dir "$root/build-asan" --output-on-failure -j "$(nproc)"
fi
