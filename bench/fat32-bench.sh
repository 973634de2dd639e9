#!/usr/bin/env bash
# fat32-bench.sh [BUILD_DIR] [SECTORS_PER_CLUSTER] [ROUNDS]
# (VOLUMES_MIB and FREES_MIB in the environment choose the sizes; a free
# space above half the volume is skipped.)
# How the FAT32 sweep scales: with the free space, not with the volume size.
# For each volume size and free-space size it builds a FAT32 image with
# mkfs.vfat, copies photos in with mcopy and deletes them with mdel, then
# marks every cluster past the free region as allocated in both FATs (the
# allocated clusters are left as holes: the sweep never reads them) and
# fills the free region after the photos with noise. It times a default
# (FAT32) vallora-recover sweep and, for comparison, a --fs raw sweep of the
# same image, warm cache, best of ROUNDS, and the FAT32 sweep's peak RSS.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
spc=${2:-8}
rounds=${3:-3}
volumes_mib=${VOLUMES_MIB:-"1024 4096 16384"}
frees_mib=${FREES_MIB:-"64 256 1024"}
work=${BENCH_DIR:-$(mktemp -d /var/tmp/vallora-fat32-bench.XXXXXX)}
trap 'rm -rf "$work"' EXIT
recover=$build/cli/vallora-recover
maker=$build/tools/vallora-make-jpeg
[ -x "$recover" ] && [ -x "$maker" ] || { echo "build first: $recover, $maker" >&2; exit 2; }
for tool in mkfs.vfat mcopy mdel; do
    PATH=$PATH:/usr/sbin:/sbin command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done
export PATH=$PATH:/usr/sbin:/sbin MTOOLS_SKIP_CHECK=1

photos=20
for ((i = 0; i < photos; i++)); do
    "$maker" exif $((320 + i * 8)) 240 "$i" "$work/P$i.JPG"
done

field() { od -An -t "u$2" -j "$1" -N "$2" "$3" | tr -d ' '; }
now() { date +%s.%N; }

# best_time IMAGE OUT ARGS...: best wall time of ROUNDS sweeps; OUT keeps the last one's files.
best_time() {
    local image=$1 out=$2 best= t0 t1 s
    shift 2
    for ((r = 1; r <= rounds; r++)); do
        rm -rf "$out"; mkdir "$out"
        t0=$(now)
        /usr/bin/time -f '%M' -o "$work/rss" "$recover" -q "$@" "$image" "$out" >/dev/null 2>"$work/err" ||
            { cat "$work/err" >&2; exit 1; }
        t1=$(now)
        s=$(echo "$t1 - $t0" | bc -l)
        if [ -z "$best" ] || (($(echo "$s < $best" | bc -l))); then best=$s; fi
    done
    echo "$best"
}

printf '%-8s %-8s %-10s %-10s %-10s %-10s %-8s %-10s\n' volume free clusters free-cl fat32-s raw-s found fat32-rss
for vol in $volumes_mib; do
    for free in $frees_mib; do
        ((free * 2 <= vol)) || continue
        image=$work/card.img
        rm -f "$image"
        truncate -s "${vol}M" "$image"
        mkfs.vfat -F 32 -s "$spc" "$image" >/dev/null 2>&1
        for ((i = 0; i < photos; i++)); do mcopy -i "$image" "$work/P$i.JPG" ::/; done
        for ((i = 0; i < photos; i++)); do mdel -i "$image" "::/P$i.JPG"; done

        sector=$(field 11 2 "$image")
        reserved=$(field 14 2 "$image")
        fats=$(field 16 1 "$image")
        total=$(field 32 4 "$image")
        per_fat=$(field 36 4 "$image")
        data_start=$((reserved + fats * per_fat))
        clusters=$(((total - data_start) / spc))
        cluster_bytes=$((spc * sector))
        free_clusters=$((free * 1024 * 1024 / cluster_bytes))
        ((free_clusters < clusters)) || { echo "free $free MiB >= volume" >&2; exit 1; }
        # Clusters 2 + free_clusters .. clusters + 1 become allocated.
        first_used=$((2 + free_clusters))
        used=$((clusters + 2 - first_used))
        for ((f = 0; f < fats; f++)); do
            head -c $((used * 4)) /dev/zero | tr '\0' '\377' |
                dd of="$image" bs=4M oflag=seek_bytes seek=$(((reserved + f * per_fat) * sector + first_used * 4)) \
                    conv=notrunc status=none
        done
        # Noise in the free region after the photos (the first 4 MiB of data).
        noise_from=$((data_start * sector + 4 * 1024 * 1024))
        noise_to=$(((data_start + free_clusters * spc) * sector))
        if ((noise_to > noise_from)); then
            head -c $((noise_to - noise_from)) /dev/urandom |
                dd of="$image" bs=4M oflag=seek_bytes seek="$noise_from" conv=notrunc status=none
        fi
        cat "$image" >/dev/null

        fat_s=$(best_time "$image" "$work/out")
        fat_found=$(ls "$work/out" | wc -l)
        fat_rss=$(tail -n 1 "$work/rss")
        raw_s=$(best_time "$image" "$work/out" --fs raw)
        raw_found=$(ls "$work/out" | wc -l)
        printf '%-8s %-8s %-10s %-10s %-10.3f %-10.3f %-8s %-10s\n' "${vol}M" "${free}M" "$clusters" \
            "$free_clusters" "$fat_s" "$raw_s" "$fat_found/$raw_found" "${fat_rss}K"
    done
done
echo "(found: photos recovered by the FAT32 sweep / by the raw sweep; $photos were deleted)"
