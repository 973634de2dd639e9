#!/usr/bin/env bash
# Installs what is missing, builds, makes the sample disk image (a FAT32
# volume with some photos deleted) and recovers its photos into
# sample-output/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
# The demo needs the programs and the photo maker, not the test suite.
cmake -S "$root" -B "$build" -G Ninja >/dev/null
targets="vallora-recover vallora-make-jpeg"
all_targets=$(ninja -C "$build" -t targets all)
if grep -q '^vallora:' <<<"$all_targets"; then
    targets="$targets vallora vallora-open-device"
fi
BUILD_TARGETS=$targets "$root/tools/build.sh"
"$root/tools/make-sample-image.sh" "$build" "$root/sample/sample.img"
rm -rf "$root/sample-output"
mkdir -p "$root/sample-output"
"$build/cli/vallora-recover" "$root/sample/sample.img" "$root/sample-output"
echo "Recovered photos:"
ls -l "$root/sample-output"
