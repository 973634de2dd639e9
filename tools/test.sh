#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
ctest --test-dir "${BUILD_DIR:-$root/build}" --output-on-failure -j "$(nproc)"
