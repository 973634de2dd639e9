#!/usr/bin/env bash
# Installs what building, testing and running Vallora need on Debian or
# Ubuntu, skipping what is already there. Uses sudo when not root.
# --peers also installs the other carvers bench/recall-bench.sh compares
# against (PhotoRec from testdisk, foremost, recoverjpeg); --windows the
# mingw-w64 cross compiler, GoogleTest's sources and Wine, for the Windows
# build and its tests (tools/test.sh's Windows stage).
set -euo pipefail

packages=(
    # toolchain
    # (the format check needs clang-format 14 exactly)
    cmake ninja-build g++ clang clang-format-14 pkg-config
    # fuzzing (fuzz): the libFuzzer runtime, and llvm-cov for coverage reports
    libclang-rt-dev llvm
    # libraries
    libgtest-dev libblkid-dev libext2fs-dev libjpeg-dev qt6-base-dev
    # report.xml (libxml2's writer, SHA-256 from OpenSSL's libcrypto) and photo dates (libexif)
    libxml2-dev libssl-dev libexif-dev
    # test fixtures: file systems made and filled without mounting, JPEG tools;
    # exFAT is filled through a FUSE mount of a loop device (util-linux: losetup)
    dosfstools mtools ntfs-3g e2fsprogs fuse3 exfatprogs exfat-fuse util-linux
    # the output-folder rule's stacked-storage tests: btrfs, LVM, md RAID, dm-crypt
    btrfs-progs lvm2 mdadm cryptsetup-bin
    # the report and photo-date tests: xmllint, and exiftool to date the photos
    libxml2-utils libimage-exiftool-perl
    # the desktop program's tests and screenshots; the Chinese texts need a CJK font;
    # a private message bus stands in for the system bus in the udisks2 test
    xvfb xauth fonts-noto-cjk dbus-daemon
    # the desktop program's translations: lupdate/lrelease, and Qt's own
    # translations for its standard buttons and dialogs
    qt6-l10n-tools qt6-translations-l10n
    # benchmarks (bench/): arithmetic and peak memory; photos with Exif
    # thumbnails, progressive and restart-marker coding for the card images;
    # python3 edits exFAT bitmaps in bench/free-space-bench.sh and cuts the
    # fuzz seeds
    bc time imagemagick libimage-exiftool-perl libjpeg-turbo-progs python3
    # manual pages, desktop metadata checks, and the Debian packages with their checks
    scdoc desktop-file-utils appstream dpkg-dev file lintian
)
for arg in "$@"; do
    case $arg in
    --peers) packages+=(testdisk foremost recoverjpeg) ;;
    # The cross compiler (POSIX threads, for std::thread), GoogleTest's
    # sources to build it for Windows, and Wine to run the tests.
    --windows) packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine64 wine) ;;
    *) echo "usage: tools/install-deps.sh [--peers] [--windows]" >&2 && exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
