#!/usr/bin/env bash
# Installs what is missing, builds, makes the sample disk image (a FAT32
# volume with some photos deleted) and recovers its photos into
# sample-output/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
"$root/tools/install-deps.sh"
"$root/tools/build.sh"
"$root/tools/make-sample-image.sh" "$build" "$root/sample/sample.img"
rm -rf "$root/sample-output"
mkdir -p "$root/sample-output"
"$build/cli/vallora-recover" "$root/sample/sample.img" "$root/sample-output"
echo "Recovered photos:"
ls -l "$root/sample-output"
