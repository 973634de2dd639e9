#!/usr/bin/env bash
# make-dense-image.sh MAKER IMAGE SIZE_MIB
# Writes IMAGE: SIZE_MIB MiB that are nearly all JPEG photos (made by MAKER,
# vallora-make-jpeg), back to back at sector starts, each followed by zeros
# to the end of its last sector. 48 photos are made and placed over and over;
# every copy gets its own JFIF density value, so no two files are equal.
# Skipped when IMAGE exists already.
set -euo pipefail
maker=$1
image=$2
size_mib=$3
[ -f "$image" ] && exit 0
echo "Building a ${size_mib} MiB image of photos: $image ..."
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for ((i = 0; i < 48; i++)); do
    "$maker" jfif $((1200 + i * 16)) $((900 + i * 8)) "$((i + 7))" "$dir/$i.jpg"
done
python3 - "$dir" "$image.part" "$size_mib" <<'PY'
import os, sys
folder, out, size = sys.argv[1], sys.argv[2], int(sys.argv[3]) << 20
photos = [open(os.path.join(folder, f"{i}.jpg"), "rb").read() for i in range(48)]
written, copy = 0, 0
with open(out, "wb") as f:
    while True:
        p = bytearray(photos[copy % len(photos)])
        # JFIF APP0: the horizontal density at bytes 14 and 15.
        p[14], p[15] = 1 + (copy >> 8) % 255, copy & 0xFF
        p += bytes((-len(p)) % 512)
        if written + len(p) > size:
            break
        f.write(p)
        written += len(p)
        copy += 1
    f.write(bytes(size - written))
PY
mv "$image.part" "$image"
