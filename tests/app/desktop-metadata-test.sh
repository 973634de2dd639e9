#!/usr/bin/env bash
# desktop-metadata-test.sh RESOURCES_DIR VERSION
# The desktop entry and the AppStream metadata pass their validators, the
# metadata names the desktop entry that is shipped and the program's version
# as its newest release, and every icon is the size its name says.
set -uo pipefail
resources=$1
version=$2
metainfo=$resources/org.vallora.Vallora.metainfo.xml
failures=0
check() { # check WHAT COMMAND...
    local what=$1
    shift
    local output
    if output=$("$@" 2>&1); then
        echo "ok: $what"
    else
        echo "FAIL: $what"
        printf '%s\n' "$output"
        failures=$((failures + 1))
    fi
}

check "desktop-file-validate accepts the desktop entry" \
    desktop-file-validate "$resources/vallora.desktop"
check "appstreamcli accepts the metadata" appstreamcli validate --no-net "$metainfo"

launchable=$(sed -nE 's|.*<launchable type="desktop-id">([^<]*)</launchable>.*|\1|p' "$metainfo")
check "the metadata launches the shipped desktop entry ($launchable)" \
    test -n "$launchable" -a -f "$resources/$launchable"
newest=$(grep -oE '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
check "the newest release in the metadata ($newest) is the program's version ($version)" \
    test "$newest" = "$version"

for icon in "$resources"/vallora-*.png; do
    size=${icon##*-}
    size=${size%.png}
    # PNG header: width and height are big-endian 32-bit words at bytes 16 and 20.
    dimensions=$(od -An -tu1 -j16 -N8 "$icon" |
        awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
    check "$(basename "$icon") is ${size}x$size" test "$dimensions" = "${size}x$size"
done

[ "$failures" = 0 ]
