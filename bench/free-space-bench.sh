#!/usr/bin/env bash
# free-space-bench.sh [BUILD_DIR] [ROUNDS]
# (VOLUME_MIB and FREES_MIB in the environment choose the sizes; defaults
# 2048 and "128 512".)
# How the exFAT and ext4 sweeps scale: with the free space, not with the
# volume size. For each file system and free-space size it builds a volume
# of VOLUME_MIB with photos deleted in its free space, and the rest of the
# volume allocated:
#   exFAT: mkfs.exfat (4 KiB clusters); the photos are written into the
#          first free clusters and every cluster past the free region is
#          marked allocated in the allocation bitmap (those clusters are left
#          as holes: the sweep never reads them);
#   ext4:  mke2fs -d with the photos, then debugfs fallocates a file over all
#          but the free space and removes the photos.
# The free region is filled with noise (not the photos). It times the
# default (auto) vallora-recover sweep, warm cache, best of ROUNDS, against
# dd reading the same number of bytes from the image in the same run (the
# ratio is sweep / dd), and for contrast the --fs raw sweep of the whole
# volume.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
rounds=${2:-3}
volume_mib=${VOLUME_MIB:-2048}
frees_mib=${FREES_MIB:-"128 512"}
work=${BENCH_DIR:-$(mktemp -d /var/tmp/vallora-free-bench.XXXXXX)}
trap 'rm -rf "$work"' EXIT
recover=$build/cli/vallora-recover
maker=$build/tools/vallora-make-jpeg
[ -x "$recover" ] && [ -x "$maker" ] || { echo "build first: $recover, $maker" >&2; exit 2; }
export PATH=$PATH:/usr/sbin:/sbin
for tool in mkfs.exfat mke2fs debugfs dumpe2fs python3 bc; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done

photos=20
mkdir "$work/photos"
for ((i = 0; i < photos; i++)); do
    "$maker" exif $((320 + i * 8)) 240 "$i" "$work/photos/P$i.JPG"
done

now() { date +%s.%N; }

# best_time COMMAND...: best wall time of ROUNDS runs.
best_time() {
    local best= t0 t1 s
    for ((r = 1; r <= rounds; r++)); do
        t0=$(now)
        "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
        t1=$(now)
        s=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || (($(echo "$s < $best" | bc -l))); then best=$s; fi
    done
    echo "$best"
}

sweep() {
    rm -rf "$work/out"
    mkdir "$work/out"
    "$recover" -q "$@" "$work/out"
}

noise() { # noise OFFSET LENGTH
    head -c "$2" /dev/urandom | dd of="$image" bs=4M oflag=seek_bytes seek="$1" conv=notrunc status=none
}

# exFAT: photos at the start of the heap, the heap past the free region
# marked allocated.
make_exfat() {
    local free=$1
    rm -f "$image"
    truncate -s "${volume_mib}M" "$image"
    mkfs.exfat -c 4K "$image" >/dev/null
    python3 - "$image" "$free" "$work/photos" <<'PY'
import os, struct, sys
image, free_mib, folder = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with open(image, 'r+b') as f:
    boot = f.read(512)
    sector = 1 << boot[108]
    cluster = sector << boot[109]
    fat_offset, fat_length, heap, count, root = struct.unpack_from('<IIIII', boot, 80)
    def offset(c):
        return heap * sector + (c - 2) * cluster
    f.seek(offset(root))
    entries = f.read(cluster)
    for at in range(0, cluster, 32):
        if entries[at] == 0x81:
            bitmap_cluster, = struct.unpack_from('<I', entries, at + 20)
            break
    f.seek(offset(bitmap_cluster))
    bitmap = bytearray(f.read((count + 7) // 8))
    used = lambda c: bitmap[(c - 2) // 8] >> ((c - 2) % 8) & 1
    first_free = next(c for c in range(2, count + 2) if not used(c))
    # Deleted photos: written into free clusters, their bits left clear.
    at = offset(first_free)
    for name in sorted(os.listdir(folder)):
        data = open(os.path.join(folder, name), 'rb').read()
        f.seek(at)
        f.write(data)
        at += (len(data) + cluster - 1) // cluster * cluster
    end_free = first_free + free_mib * 1024 * 1024 // cluster
    for c in range(end_free, count + 2):
        bitmap[(c - 2) // 8] |= 1 << ((c - 2) % 8)
    f.seek(offset(bitmap_cluster))
    f.write(bitmap)
    print(at, offset(end_free))
PY
}

# ext4: all but the free space fallocated, the photos removed.
make_ext4() {
    local free=$1 blocks size want
    rm -f "$image"
    mke2fs -q -F -t ext4 -b 4096 -d "$work/photos" "$image" "${volume_mib}M" 2>/dev/null
    size=4096
    blocks=$(dumpe2fs -h "$image" 2>/dev/null | awk -F: '/^Free blocks/ { print $2 + 0 }')
    want=$((blocks - free * 1024 * 1024 / size))
    debugfs -w -R "write /dev/null /filler" "$image" >/dev/null 2>&1
    debugfs -w -R "fallocate /filler 0 $((want - 1))" "$image" >/dev/null 2>&1
    # Noise into the free ranges (the photos' blocks are not free yet).
    dumpe2fs "$image" 2>/dev/null | sed -n 's/^  Free blocks: //p' | tr ',' '\n' |
        while read -r range; do
            [ -n "$range" ] || continue
            a=${range%-*}
            b=${range#*-}
            noise $((a * size)) $(((b - a + 1) * size))
        done
    for ((i = 0; i < photos; i++)); do
        debugfs -w -R "rm /P$i.JPG" "$image" >/dev/null 2>&1
    done
    echo "-"
}

printf '%-6s %-8s %-8s %-10s %-10s %-8s %-10s %-6s\n' fs volume free sweep-s dd-s ratio raw-s found
for fs in exfat ext4; do
    for free in $frees_mib; do
        image=$work/$fs.img
        if [ "$fs" = exfat ]; then
            read -r noise_from noise_to < <(make_exfat "$free")
            noise "$noise_from" $((noise_to - noise_from))
        else
            make_ext4 "$free" >/dev/null
        fi
        cat "$image" >/dev/null
        sweep_s=$(best_time sweep "$image")
        found=$(ls "$work/out" | wc -l)
        dd_s=$(best_time dd if="$image" of=/dev/null bs=4M count=$((free / 4)) status=none)
        raw_s=$(best_time sweep --fs raw "$image")
        printf '%-6s %-8s %-8s %-10.3f %-10.3f %-8.2f %-10.3f %-6s\n' "$fs" "${volume_mib}M" "${free}M" \
            "$sweep_s" "$dd_s" "$(echo "$sweep_s / $dd_s" | bc -l)" "$raw_s" "$found/$photos"
    done
done
echo "(dd: reading as many bytes as the free space, from the same image; found: photos the"
echo " default sweep recovered of the $photos deleted)"
