#!/usr/bin/env bash
# tools/package.sh [BUILD_DIR]
# Makes the Debian packages vallora-recover_*.deb and vallora_*.deb in
# BUILD_DIR/packages (BUILD_DIR defaults to build). The build is configured
# to install under /usr, as a package must; an existing build directory is
# reused with its other settings.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)

if grep -q '^VALLORA_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    echo "package.sh: $build is a sanitizer build; packages are made from a plain one" >&2
    exit 2
fi
"$root/tools/install-deps.sh"
# A build already configured for /usr (tools/test.sh makes one) is used as it is.
if ! grep -qx 'CMAKE_INSTALL_PREFIX:PATH=/usr' "$build/CMakeCache.txt" 2>/dev/null; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
fi
ninja -C "$build" -j "$(nproc)"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB -B "$build/packages" --config "$build/CPackConfig.cmake" >/dev/null)
rm -rf "$build/packages/_CPack_Packages"
ls "$build/packages"/*.deb
