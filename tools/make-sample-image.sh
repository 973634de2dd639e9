#!/usr/bin/env bash
# make-sample-image.sh BUILD_DIR IMAGE
# Makes a small FAT32 disk image as a camera card would hold it: eight
# photos in DCIM/100PHOTO, of which three are then deleted. Needs
# mkfs.vfat and mtools; nothing is mounted.
set -euo pipefail
build=$1
image=$2
maker=$build/tools/vallora-make-jpeg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$(dirname "$image")"
rm -f "$image"
mkfs.vfat -F 32 -S 512 -s 1 -n SAMPLECARD -C "$image" 40960 >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$image" ::/DCIM ::/DCIM/100PHOTO
kinds=(jfif exif jfif dqt exif jfif exif jfif)
for i in 1 2 3 4 5 6 7 8; do
    name=$(printf 'IMG_%04d.JPG' "$i")
    "$maker" "${kinds[$((i - 1))]}" $((320 + i * 40)) $((240 + i * 30)) "$i" "$work/$name"
    mcopy -i "$image" "$work/$name" "::/DCIM/100PHOTO/$name"
done
for i in 2 5 7; do
    mdel -i "$image" "::/DCIM/100PHOTO/$(printf 'IMG_%04d.JPG' "$i")"
done
echo "Sample image: $image (photos 2, 5 and 7 deleted)"
