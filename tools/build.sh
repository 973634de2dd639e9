#!/usr/bin/env bash
# Configures and builds Vallora into BUILD_DIR (default: build). Extra
# arguments go to cmake. BUILD_TARGETS, when set, names the ninja targets
# to build instead of everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
# shellcheck disable=SC2086 # BUILD_TARGETS is a list of target names
ninja -C "$build" -j "$(nproc)" ${BUILD_TARGETS:-}
