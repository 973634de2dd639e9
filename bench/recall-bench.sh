#!/usr/bin/env bash
# recall-bench.sh [BUILD_DIR] [WORK_DIR]
# How many deleted photos each carver gets back byte for byte, and what else
# it writes, on card images made the way cameras and people leave them:
#   reused     a FAT32 card that held older data, was quick-formatted and
#              used again: old photos in free space, older bytes after their
#              end markers; some new photos deleted too
#   deleted    a FAT32 card with photos deleted among photos still present
#   ntfs       an NTFS volume (written through an ntfs-3g mount) likewise
#   raw        noise with photos back to back (each last sector's tail keeps
#              the noise) and photos further on behind noise
#   fatfrag    a FAT32 card (mtools) filled with small files, every other
#              one deleted, photos written into the holes around the files
#              that stay, then deleted: each photo lies in several pieces
#   ntfsfrag   the same on NTFS (ntfs-3g); afterwards some of the files
#              between the pieces are deleted too, so that free foreign
#              clusters lie between pieces
#   gap        noise with photos in two pieces, a stretch of noise between
#   odd        noise with photos at odd byte offsets, a tar archive of
#              photos at an odd offset, and photos back to back with no gap
# The photos are made with ImageMagick (plasma fractals), coded with cjpeg
# (baseline, progressive, restart markers) or ImageMagick (CMYK, Adobe
# segment first), and given Exif data with a thumbnail or XMP with exiftool.
# Compared: vallora-recover in the default and the thorough mode, PhotoRec
# (free space; and with its brute-force option, photorec-bf), foremost and
# recoverjpeg (tools/install-deps.sh --peers). Per image and
# tool it prints the deleted photos recovered exactly (of those whose bytes
# are still whole on the image), present photos written again, and the other
# files written (truncated, overlong, thumbnails, junk). Run as root (the
# NTFS volume is filled through a FUSE mount; skipped when that fails).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
recover=$build/cli/vallora-recover
[ -x "$recover" ] || { echo "build first: $recover" >&2; exit 2; }
for tool in convert cjpeg exiftool mkfs.vfat mcopy python3; do
    command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin:/sbin
    command -v "$tool" >/dev/null || { echo "missing $tool (tools/install-deps.sh)" >&2; exit 2; }
done
if [ -n "${2:-}" ]; then
    work=$2
    mkdir -p "$work"
else
    work=$(mktemp -d /var/tmp/vallora-recall.XXXXXX)
    trap 'umount "$work/mnt" 2>/dev/null || true; rm -rf "$work"' EXIT
fi
export MTOOLS_SKIP_CHECK=1

# make_photo OUT SEED: one photo, its style chosen by the seed.
make_photo() {
    local out=$1 seed=$2 tmp=$work/tmp
    mkdir -p "$tmp"
    local w=$((800 + (seed * 97) % 900)) h
    h=$((w * 3 / 4))
    convert -seed "$seed" -size "${w}x${h}" plasma:fractal -blur 0x0.6 "$tmp/p.ppm"
    convert "$tmp/p.ppm" -resize 160x120 "$tmp/thumb.jpg"
    local exif=(-Make=BenchCam -Model="Card $((seed % 7))" "-DateTimeOriginal=2024:05:$((10 + seed % 18)) 12:00:00")
    case $((seed % 5)) in
    0) # JFIF baseline with an Exif segment and thumbnail
        cjpeg -quality 90 "$tmp/p.ppm" >"$out"
        exiftool -q -overwrite_original "${exif[@]}" "-ThumbnailImage<=$tmp/thumb.jpg" "$out" ;;
    1) # progressive, Exif first (no JFIF), with a thumbnail, as cameras write
        cjpeg -quality 85 -progressive "$tmp/p.ppm" >"$out"
        exiftool -q -overwrite_original -JFIF:all= "${exif[@]}" "-ThumbnailImage<=$tmp/thumb.jpg" "$out" ;;
    2) # restart markers every MCU row, Exif first with a thumbnail
        cjpeg -quality 88 -restart 1 "$tmp/p.ppm" >"$out"
        exiftool -q -overwrite_original -JFIF:all= "${exif[@]}" "-ThumbnailImage<=$tmp/thumb.jpg" "$out" ;;
    3) # progressive with restart markers, XMP first
        cjpeg -quality 85 -progressive -restart 2 "$tmp/p.ppm" >"$out"
        exiftool -q -overwrite_original -JFIF:all= -XMP-dc:Title="photo $seed" "$out" ;;
    4) # CMYK: Adobe's segment first
        convert "$tmp/p.ppm" -colorspace CMYK -quality 85 "$out" ;;
    esac
}

# make_set DIR FIRST COUNT: photos IMG_<seed>.JPG.
make_set() {
    mkdir -p "$1"
    for ((s = $2; s < $2 + $3; s++)); do
        [ -f "$1/IMG_$s.JPG" ] || make_photo "$1/IMG_$s.JPG" "$s"
    done
}

photos=$work/photos
echo "Making photos in $photos ..."
make_set "$photos" 1 60

images=$work/images
mkdir -p "$images"
# Each image comes with deleted.list and present.list: the photos (paths)
# deleted from it and still on it.

make_reused() {
    local img=$images/reused.img
    [ -f "$img" ] && return
    head -c $((64 << 20)) /dev/urandom >"$img"
    mkfs.vfat -F 32 -s 1 -n OLDCARD "$img" >/dev/null
    : >"$images/reused.deleted"; : >"$images/reused.present"
    for s in $(seq 1 16); do
        mcopy -i "$img" "$photos/IMG_$s.JPG" ::/
        echo "$photos/IMG_$s.JPG" >>"$images/reused.deleted"
    done
    # Quick format: new FAT and root folder, the data area left as it was.
    mkfs.vfat -F 32 -s 1 -n NEWCARD "$img" >/dev/null
    for s in $(seq 17 24); do
        mcopy -i "$img" "$photos/IMG_$s.JPG" ::/
    done
    for s in 18 20 22 24; do
        mdel -i "$img" "::/IMG_$s.JPG"
        echo "$photos/IMG_$s.JPG" >>"$images/reused.deleted"
    done
    for s in 17 19 21 23; do echo "$photos/IMG_$s.JPG" >>"$images/reused.present"; done
}

make_deleted() {
    local img=$images/deleted.img
    [ -f "$img" ] && return
    truncate -s 64M "$img"
    mkfs.vfat -F 32 -s 1 -n CARD "$img" >/dev/null
    mmd -i "$img" ::/DCIM
    : >"$images/deleted.deleted"; : >"$images/deleted.present"
    for s in $(seq 25 42); do mcopy -i "$img" "$photos/IMG_$s.JPG" ::/DCIM/; done
    for s in $(seq 25 42); do
        if ((s % 3 == 0)); then
            mdel -i "$img" "::/DCIM/IMG_$s.JPG"
            echo "$photos/IMG_$s.JPG" >>"$images/deleted.deleted"
        else
            echo "$photos/IMG_$s.JPG" >>"$images/deleted.present"
        fi
    done
}

# new_ntfs NAME: makes $images/NAME.img.part, an empty NTFS volume, and
# mounts it on $work/mnt; false (and nothing made) when it cannot be mounted.
new_ntfs() {
    local part=$images/$1.img.part
    truncate -s 64M "$part"
    mkntfs -F -Q -q -s 512 -c 4096 "$part" >/dev/null
    mkdir -p "$work/mnt"
    ntfs-3g "$part" "$work/mnt" 2>/dev/null && return 0
    echo "$1: cannot mount through ntfs-3g (FUSE); skipped" >&2
    rm -f "$part"
    return 1
}

make_ntfs() {
    local img=$images/ntfs.img
    [ -f "$img" ] && return
    new_ntfs ntfs || return 0
    : >"$images/ntfs.deleted"; : >"$images/ntfs.present"
    for s in $(seq 25 42); do cp "$photos/IMG_$s.JPG" "$work/mnt/"; done
    for s in $(seq 25 42); do
        if ((s % 3 == 1)); then
            rm "$work/mnt/IMG_$s.JPG"
            echo "$photos/IMG_$s.JPG" >>"$images/ntfs.deleted"
        else
            echo "$photos/IMG_$s.JPG" >>"$images/ntfs.present"
        fi
    done
    umount "$work/mnt"
    mv "$img.part" "$img"
}

make_raw() {
    local img=$images/raw.img
    [ -f "$img" ] && return
    head -c $((48 << 20)) /dev/urandom >"$img"
    : >"$images/raw.deleted"; : >"$images/raw.present"
    local sector=2048 s len
    for s in $(seq 43 52); do # back to back: each starts in the sector after the last one's end
        dd if="$photos/IMG_$s.JPG" of="$img" bs=512 seek="$sector" conv=notrunc status=none
        len=$(stat -c %s "$photos/IMG_$s.JPG")
        sector=$((sector + (len + 511) / 512))
        echo "$photos/IMG_$s.JPG" >>"$images/raw.deleted"
    done
    for s in $(seq 53 60); do # behind stretches of noise
        sector=$((sector + 1000 + s * 37))
        dd if="$photos/IMG_$s.JPG" of="$img" bs=512 seek="$sector" conv=notrunc status=none
        len=$(stat -c %s "$photos/IMG_$s.JPG")
        sector=$((sector + (len + 511) / 512))
        echo "$photos/IMG_$s.JPG" >>"$images/raw.deleted"
    done
}

# small_files PUT: 60 pairs of small files a<i> (64 KiB) and b<i> (8 KiB),
# written in turn by PUT NAME SIZE.
small_files() {
    local i
    for i in $(seq 1 60); do
        "$1" "a$i" $((64 << 10))
        "$1" "b$i" $((8 << 10))
    done
}

make_fatfrag() {
    local img=$images/fatfrag.img s
    [ -f "$img" ] && return
    truncate -s 64M "$img"
    mkfs.vfat -F 32 -s 1 -n FRAG "$img" >/dev/null
    fat_put() { head -c "$2" /dev/urandom >"$work/small" && mcopy -i "$img" "$work/small" "::/$1"; }
    small_files fat_put
    # mtools writes after the last cluster it allocated: the end is filled
    # (less a few clusters it keeps back), and eat takes what is left, so
    # the photos go into the holes.
    local free
    free=$(mdir -i "$img" :: | sed -n 's/ //g; s/bytesfree//p')
    head -c $((free - 65536)) /dev/zero >"$work/fill"
    mcopy -i "$img" "$work/fill" ::/fill
    for s in $(seq 1 60); do mdel -i "$img" "::/a$s"; done
    head -c 65536 /dev/zero >"$work/eat"
    mcopy -i "$img" "$work/eat" ::/eat
    : >"$images/fatfrag.deleted"; : >"$images/fatfrag.present"
    for s in $(seq 1 12); do mcopy -i "$img" "$photos/IMG_$s.JPG" ::/; done
    for s in $(seq 1 12); do
        if ((s % 4 == 0)); then
            echo "$photos/IMG_$s.JPG" >>"$images/fatfrag.present"
        else
            mdel -i "$img" "::/IMG_$s.JPG"
            echo "$photos/IMG_$s.JPG" >>"$images/fatfrag.deleted"
        fi
    done
    touch "$images/fatfrag.whole"
}

make_ntfsfrag() {
    local img=$images/ntfsfrag.img s
    [ -f "$img" ] && return
    new_ntfs ntfsfrag || return 0
    ntfs_put() { head -c "$2" /dev/urandom >"$work/mnt/$1"; }
    small_files ntfs_put
    head -c "$(df -B1 --output=avail "$work/mnt" | tail -1)" /dev/zero >"$work/mnt/fill" 2>/dev/null || true
    rm "$work/mnt"/a*
    : >"$images/ntfsfrag.deleted"; : >"$images/ntfsfrag.present"
    for s in $(seq 13 24); do cp "$photos/IMG_$s.JPG" "$work/mnt/" 2>/dev/null || break; done
    for s in $(seq 13 24); do
        [ -f "$work/mnt/IMG_$s.JPG" ] || continue
        if ((s % 4 == 0)); then
            echo "$photos/IMG_$s.JPG" >>"$images/ntfsfrag.present"
        else
            rm "$work/mnt/IMG_$s.JPG"
            echo "$photos/IMG_$s.JPG" >>"$images/ntfsfrag.deleted"
        fi
    done
    # Foreign free clusters between some pieces.
    for s in $(seq 1 3 60); do rm "$work/mnt/b$s"; done
    umount "$work/mnt"
    mv "$img.part" "$img"
    touch "$images/ntfsfrag.whole"
}

make_gap() {
    local img=$images/gap.img s len cut gap sector=2048
    [ -f "$img" ] && return
    head -c $((48 << 20)) /dev/urandom >"$img"
    : >"$images/gap.deleted"; : >"$images/gap.present"
    for s in $(seq 25 36); do
        len=$(stat -c %s "$photos/IMG_$s.JPG")
        cut=$((len * 2 / 5 / 4096 * 4096)) # the first piece ends at a 4 KiB boundary
        gap=$((8 * (1 + s % 5)))            # sectors of noise between the pieces
        dd if="$photos/IMG_$s.JPG" of="$img" bs=512 seek="$sector" count=$((cut / 512)) conv=notrunc status=none
        dd if="$photos/IMG_$s.JPG" of="$img" bs=512 skip=$((cut / 512)) seek=$((sector + cut / 512 + gap)) \
            conv=notrunc status=none
        sector=$((sector + (len + 511) / 512 + gap + 500 + s * 13))
        echo "$photos/IMG_$s.JPG" >>"$images/gap.deleted"
    done
    touch "$images/gap.whole"
}

make_odd() {
    local img=$images/odd.img s len at=1048597
    [ -f "$img" ] && return
    head -c $((48 << 20)) /dev/urandom >"$img"
    : >"$images/odd.deleted"; : >"$images/odd.present"
    put() { dd if="$1" of="$img" bs=1 seek="$2" conv=notrunc status=none; }
    for s in $(seq 37 42); do # odd offsets, behind noise
        put "$photos/IMG_$s.JPG" "$at"
        at=$((at + $(stat -c %s "$photos/IMG_$s.JPG") + 70001 + s * 7))
        echo "$photos/IMG_$s.JPG" >>"$images/odd.deleted"
    done
    # A tar archive of photos, at an odd offset.
    (cd "$photos" && tar cf "$work/pack.tar" IMG_43.JPG IMG_44.JPG IMG_45.JPG IMG_46.JPG)
    put "$work/pack.tar" "$at"
    at=$((at + $(stat -c %s "$work/pack.tar") + 3333))
    for s in 43 44 45 46; do echo "$photos/IMG_$s.JPG" >>"$images/odd.deleted"; done
    for s in $(seq 47 52); do # back to back, no gap
        put "$photos/IMG_$s.JPG" "$at"
        at=$((at + $(stat -c %s "$photos/IMG_$s.JPG")))
        echo "$photos/IMG_$s.JPG" >>"$images/odd.deleted"
    done
    touch "$images/odd.whole"
}

echo "Making card images in $images ..."
make_reused
make_deleted
make_ntfs
make_raw
make_fatfrag
make_ntfsfrag
make_gap
make_odd

# run_tool TOOL IMAGE OUT
run_tool() {
    local tool=$1 img=$2 out=$3
    rm -rf "$out"
    mkdir -p "$out"
    case $tool in
    vallora) "$recover" -q --no-report "$img" "$out" >/dev/null 2>&1 || true ;;
    vallora-thorough) "$recover" -q --no-report --thorough "$img" "$out" >/dev/null 2>&1 || true ;;
    photorec)
        (cd "$out" && photorec /log /d "$out/recup" /cmd "$img" \
            partition_none,fileopt,everything,disable,jpg,enable,freespace,search >/dev/null 2>&1) || true
        find "$out" -name report.xml -delete
        rm -f "$out/photorec.log" ;;
    photorec-bf)
        (cd "$out" && photorec /log /d "$out/recup" /cmd "$img" \
            partition_none,options,paranoid_bf,fileopt,everything,disable,jpg,enable,freespace,search \
            >/dev/null 2>&1) || true
        find "$out" -name report.xml -delete
        rm -f "$out/photorec.log" ;;
    foremost)
        foremost -t jpg -i "$img" -o "$out/f" >/dev/null 2>&1 || true
        rm -f "$out/f/audit.txt" ;;
    recoverjpeg) (cd "$out" && recoverjpeg -q "$img" >/dev/null 2>&1) || true ;;
    esac
}

tools=(vallora vallora-thorough photorec photorec-bf foremost recoverjpeg)
printf '%-8s %-17s %14s %8s %6s\n' image tool "exact deleted" present other
for name in ${IMAGES:-reused deleted ntfs raw fatfrag ntfsfrag gap odd}; do
    img=$images/$name.img
    [ -f "$img" ] || continue
    for tool in "${tools[@]}"; do
        if [[ $tool != vallora* ]] && ! command -v "${tool%-bf}" >/dev/null; then
            printf '%-8s %-17s %14s\n' "$name" "$tool" "not installed"
            continue
        fi
        out=$work/out/$name/$tool
        run_tool "$tool" "$img" "$out"
        python3 - "$img" "$images/$name.deleted" "$images/$name.present" "$out" "$name" "$tool" \
            "$images/$name.whole" <<'PY'
import hashlib, os, sys
img, deleted, present, out, name, tool, whole_mark = sys.argv[1:]
disk = open(img, 'rb').read()
def load(listing):
    return {hashlib.sha256(open(p, 'rb').read()).hexdigest(): p for p in open(listing).read().split()}
deleted, present = load(deleted), load(present)
# Deleted photos whose bytes are still whole somewhere on the image, at a sector start.
def whole(path):
    b = open(path, 'rb').read()
    at = disk.find(b)
    while at >= 0 and at % 512:
        at = disk.find(b, at + 1)
    return at >= 0
# Images made in pieces or at odd offsets have every deleted photo whole by construction.
intact = set(deleted) if os.path.exists(whole_mark) else {h for h, p in deleted.items() if whole(p)}
exact, again, other = set(), set(), 0
for d, _, files in os.walk(out):
    for f in files:
        h = hashlib.sha256(open(os.path.join(d, f), 'rb').read()).hexdigest()
        if h in deleted:
            exact.add(h)
        elif h in present:
            again.add(h)
        else:
            other += 1
print(f"{name:8} {tool:17} {len(exact):6} of {len(intact):3}   {len(again):6} {other:6}")
PY
    done
done
