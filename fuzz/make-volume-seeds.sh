#!/usr/bin/env bash
# Remakes the seeds of the exfat_volume, fat_volume and ext_volume fuzz
# targets in fuzz/corpus/: small volumes made by mkfs.exfat, mkfs.fat
# and mke2fs, some with files written and deleted (mtools, debugfs), cut
# after their last non-zero byte. The fuzz entry reads them on a device of
# 8 MiB whose bytes past the seed are zeros.
set -euo pipefail
export PATH=$PATH:/usr/sbin:/sbin MTOOLS_SKIP_CHECK=1

root=$(cd "$(dirname "$0")/.." && pwd)
corpus=$root/fuzz/corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$corpus/exfat_volume" "$corpus/fat_volume" "$corpus/fat32_volume" "$corpus/ext_volume"

# A few small files to write and delete.
mkdir "$tmp/files"
for i in 1 2 3; do
    head -c $((3000 * i)) /dev/urandom >"$tmp/files/F$i.BIN"
done

# cut IMAGE OUTPUT: the image up to its last non-zero byte.
cut_image() {
    python3 - "$1" "$2" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read().rstrip(b'\0')
open(sys.argv[2], 'wb').write(data)
PY
}

exfat() {
    local name=$1 size=$2
    shift 2
    rm -f "$tmp/v.img"
    truncate -s "$size" "$tmp/v.img"
    mkfs.exfat -q "$@" "$tmp/v.img" >/dev/null 2>&1 || mkfs.exfat "$@" "$tmp/v.img" >/dev/null
    cut_image "$tmp/v.img" "$corpus/exfat_volume/$name"
}
exfat mkfs-c512-b4k 4M -c 512 -b 4K
exfat mkfs-c4k-b4k 8M -c 4K -b 4K
exfat mkfs-c512-packed-bitmap 4M -c 512 -b 4K --pack-bitmap

fat() {
    local name=$1 size=$2
    shift 2
    rm -f "$tmp/v.img"
    truncate -s "$size" "$tmp/v.img"
    mkfs.fat "$@" "$tmp/v.img" >/dev/null
    for i in 1 2 3; do mcopy -i "$tmp/v.img" "$tmp/files/F$i.BIN" ::/; done
    mdel -i "$tmp/v.img" ::/F2.BIN
    cut_image "$tmp/v.img" "$corpus/fat_volume/$name"
}
fat mkfs-fat12 1M -F 12
fat mkfs-fat16-s1 4M -F 16 -s 1
fat mkfs-fat12-f1-s4 2M -F 12 -f 1 -s 4

# FAT32 needs 65525 clusters or more: the volumes are larger than the fuzz
# device (8 MiB), whose rest reads as zeros, but their FATs and files lie in
# its first megabytes.
fat32() {
    local name=$1 size=$2
    shift 2
    rm -f "$tmp/v.img"
    truncate -s "$size" "$tmp/v.img"
    mkfs.fat -F 32 "$@" "$tmp/v.img" >/dev/null
    for i in 1 2 3; do mcopy -i "$tmp/v.img" "$tmp/files/F$i.BIN" ::/; done
    mmd -i "$tmp/v.img" ::/DCIM
    mcopy -i "$tmp/v.img" "$tmp/files/F1.BIN" ::/DCIM/
    mdel -i "$tmp/v.img" ::/F2.BIN
    cut_image "$tmp/v.img" "$corpus/fat32_volume/$name"
}
fat32 mkfs-fat32-s1 40M -s 1
fat32 mkfs-fat32-s2-f1 70M -s 2 -f 1
fat32 mkfs-fat32-s1-r64 40M -s 1 -R 64

ext() {
    local name=$1 size=$2
    shift 2
    rm -f "$tmp/v.img"
    mke2fs -q -F "$@" -d "$tmp/files" "$tmp/v.img" "$size"
    debugfs -w -R "rm /F2.BIN" "$tmp/v.img" >/dev/null 2>&1
    cut_image "$tmp/v.img" "$corpus/ext_volume/$name"
}
ext mke2fs-ext2 1M -t ext2
ext mke2fs-ext4-nojournal 2M -t ext4 -O ^has_journal
ext mke2fs-ext4-64bit-flexbg 4M -t ext4 -O ^has_journal,64bit,flex_bg
ext mke2fs-ext4-bigalloc 4M -t ext4 -O ^has_journal,bigalloc -C 4096
