#!/usr/bin/env bash
# Remakes the mkntfs seeds of the ntfs_volume fuzz target in
# fuzz/corpus/ntfs_volume/: small volumes made by mkntfs, cut down to
# their first bytes so that the fuzzer works on short inputs. "-records"
# seeds end after MFT record 31; the "-whole" seed ends after the $Bitmap
# data, so the whole bitmap load runs on it. (synthetic-attribute-list is
# written by the test NtfsFuzzCorpus.SyntheticVolumeRunsCleanly.)
set -euo pipefail
export PATH=$PATH:/usr/sbin:/sbin

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/fuzz/corpus/ntfs_volume
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"

# make SECTOR CLUSTER SIZE records|whole
make_seed() {
    local sector=$1 cluster=$2 size=$3 mode=$4 img=$tmp/v.img
    rm -f "$img"
    truncate -s "$size" "$img"
    mkntfs -F -f -q -s "$sector" -c "$cluster" -L seed "$img" >/dev/null 2>&1
    local mftCluster perRecord record cut
    mftCluster=$(od -An -t u8 -j 48 -N 8 "$img" | tr -d ' ')
    perRecord=$(od -An -t d1 -j 64 -N 1 "$img" | tr -d ' ')
    if [ "$perRecord" -gt 0 ]; then record=$((perRecord * cluster)); else record=$((1 << -perRecord)); fi
    if [ "$mode" = records ]; then
        cut=$((mftCluster * cluster + 32 * record))
    else
        local lcn
        lcn=$(ntfsinfo -i 6 -v "$img" 2>/dev/null | awk '/Runlist/ { getline; print $2 }')
        cut=$(((lcn + 1) * cluster))
    fi
    head -c "$cut" "$img" >"$out/mkntfs-s$sector-c$cluster-$mode"
}

make_seed 512 512 2M whole
make_seed 512 1024 3M records
make_seed 512 4096 4M records
make_seed 4096 4096 8M records
ls -l "$out"
