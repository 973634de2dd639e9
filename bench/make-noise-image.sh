#!/usr/bin/env bash
# make-noise-image.sh MAKER IMAGE SIZE_MIB
# Writes IMAGE: SIZE_MIB MiB of noise with 40 JPEG photos (made by MAKER,
# vallora-make-jpeg) at sector-aligned offsets, each followed by zeros to the
# end of its last sector, as a file system leaves a file. Skipped when IMAGE
# exists already.
set -euo pipefail
maker=$1
image=$2
size_mib=$3
[ -f "$image" ] && exit 0
echo "Building a ${size_mib} MiB image of noise with photos: $image ..."
photo=$(mktemp)
trap 'rm -f "$photo"' EXIT
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$image.part"
for ((i = 0; i < 40; i++)); do
    sector=$(((i * 97 + 13) * (size_mib * 2048 / 4000) + 1))
    "$maker" jfif $((400 + i * 8)) 300 "$i" "$photo"
    dd if="$photo" of="$image.part" bs=512 seek="$sector" conv=notrunc status=none
    len=$(stat -c %s "$photo")
    pad=$(((512 - len % 512) % 512))
    if [ "$pad" -gt 0 ]; then
        head -c "$pad" /dev/zero |
            dd of="$image.part" bs=1 seek=$((sector * 512 + len)) conv=notrunc status=none
    fi
done
mv "$image.part" "$image"
