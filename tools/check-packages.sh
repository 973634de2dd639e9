#!/usr/bin/env bash
# tools/check-packages.sh [BUILD_DIR]
# Checks the packages tools/package.sh made in BUILD_DIR/packages:
# - lintian reports no errors;
# - no maintainer scripts, every file owned by root, nothing set-user-ID, the
#   device helper a plain 0755 program;
# - dpkg installs them together into a fresh root; there every program finds
#   its libraries, each one from a package the .deb depends on, and the
#   command-line package needs no Qt;
# - the installed vallora-recover shows its version and recovers the sample
#   card image's photos exactly as the built one does; the desktop program
#   looks for its helper where the package puts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
packages=$build/packages
recover_deb=$(ls "$packages"/vallora-recover_*.deb)
debs=("$recover_deb")
desktop_deb=$(ls "$packages"/vallora_*.deb 2>/dev/null || true)
[ -n "$desktop_deb" ] && debs+=("$desktop_deb")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

echo "== lintian ${debs[*]##*/}"
if lintian --fail-on error --tag-display-limit 0 "${debs[@]}"; then
    ok "lintian reports no errors"
else
    fail "lintian reports errors"
fi

echo "== contents"
for deb in "${debs[@]}"; do
    name=$(basename "$deb")
    control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||; /^$/d' | sort | tr '\n' ' ')
    [ "$control" = "control md5sums " ] && ok "$name: no maintainer scripts" ||
        fail "$name: control area holds [$control], expected only control and md5sums"
    listing=$(dpkg-deb -c "$deb")
    wrong_owner=$(awk '$2 != "root/root"' <<<"$listing")
    [ -z "$wrong_owner" ] && ok "$name: every file owned by root" ||
        fail "$name: files not owned by root: $wrong_owner"
    set_id=$(awk 'substr($1, 4, 1) ~ /[sS]/ || substr($1, 7, 1) ~ /[sS]/' <<<"$listing")
    [ -z "$set_id" ] && ok "$name: nothing set-user-ID or set-group-ID" ||
        fail "$name: set-ID files: $set_id"
done
if [ -n "$desktop_deb" ]; then
    helper_mode=$(dpkg-deb -c "$desktop_deb" | awk '$6 == "./usr/libexec/vallora/vallora-open-device" { print $1 }')
    [ "$helper_mode" = "-rwxr-xr-x" ] && ok "the device helper is -rwxr-xr-x" ||
        fail "the device helper is [$helper_mode], expected -rwxr-xr-x"
fi

echo "== installed into a fresh root"
fresh=$work/root
mkdir -p "$fresh/var/lib/dpkg/info" "$fresh/var/lib/dpkg/updates"
touch "$fresh/var/lib/dpkg/status" "$fresh/var/lib/dpkg/available"
force=(--force-depends)
[ "$(id -u)" -ne 0 ] && force+=(--force-not-root)
# Only the libraries are missing from the fresh root; dpkg still refuses
# conflicting files and malformed packages.
dpkg --root="$fresh" --log="$work/dpkg.log" "${force[@]}" -i "${debs[@]}" >"$work/dpkg.out" 2>&1 ||
    {
        cat "$work/dpkg.out"
        fail "dpkg could not install the packages"
    }

# The package owning a library file, as the host's dpkg knows it.
owner() {
    local path package
    [ -n "$1" ] || return 0
    for path in "$1" "$(readlink -f "$1")" "${1#/usr}" "/usr$1"; do
        package=$(dpkg-query -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
        if [ -n "$package" ]; then
            echo "$package"
            return 0
        fi
    done
}
for deb in "${debs[@]}"; do
    name=$(basename "$deb")
    depends=" $(dpkg-deb -f "$deb" Depends | sed -E 's/\([^)]*\)//g; s/[,|]/ /g' | tr -s ' ') "
    while read -r file; do
        file=$fresh/${file#./}
        head -c 4 "$file" | grep -q ELF || continue
        missing=$(ldd "$file" | grep 'not found' || true)
        [ -z "$missing" ] && ok "${file#"$fresh"}: every library found" ||
            fail "${file#"$fresh"}: $missing"
        for needed in $(readelf -d "$file" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]/\1/p'); do
            # "libx.so.1 => /lib/.../libx.so.1 (0x...)", or the loader's "/lib64/ld-....so.2 (0x...)"
            path=$(ldd "$file" | awk -v lib="$needed" '$1 == lib && $2 == "=>" { print $3 }
                { n = split($1, part, "/") } n > 1 && part[n] == lib { print $1 }' | head -n 1)
            package=$(owner "$path")
            [[ $depends == *" $package "* ]] ||
                fail "$name: ${file#"$fresh"} needs $needed from [$package], not in Depends:$depends"
        done
    done < <(dpkg-deb -c "$deb" | awk '$1 ~ /^-..x/ { print $6 }')
done
if [[ " $(dpkg-deb -f "$recover_deb" Depends) " == *qt* ]] ||
    readelf -d "$fresh/usr/bin/vallora-recover" | grep -qi 'NEEDED.*libQt'; then
    fail "vallora-recover needs Qt"
else
    ok "vallora-recover needs no Qt"
fi

version=$("$fresh/usr/bin/vallora-recover" --version)
[ "$version" = "vallora-recover $(dpkg-deb -f "$recover_deb" Version)" ] &&
    ok "installed vallora-recover --version: $version" ||
    fail "installed vallora-recover --version said [$version]"

"$root/tools/make-sample-image.sh" "$build" "$work/sample.img" >/dev/null
mkdir "$work/installed" "$work/built"
status=0
"$fresh/usr/bin/vallora-recover" --quiet "$work/sample.img" "$work/installed" >"$work/scan.out" 2>&1 ||
    status=$?
"$build/cli/vallora-recover" --quiet "$work/sample.img" "$work/built" >/dev/null 2>&1
recovered=$(find "$work/installed" -name '*.jpg' | wc -l)
# The photos, byte for byte (a report names its own folder and time).
same_photos() {
    local photo
    [ "$(cd "$work/installed" && ls ./*.jpg)" = "$(cd "$work/built" && ls ./*.jpg)" ] || return 1
    for photo in "$work/installed"/*.jpg; do
        cmp -s "$photo" "$work/built/${photo##*/}" || return 1
    done
}
if [ "$status" = 0 ] && [ "$recovered" -gt 0 ] && same_photos; then
    ok "installed vallora-recover recovered the sample image's $recovered photos, as the built one does"
else
    cat "$work/scan.out"
    fail "installed vallora-recover: exit status $status, $recovered photos, differ from the built one's"
fi
bash -c "source '$fresh/usr/share/bash-completion/completions/vallora-recover' &&
    complete -p vallora-recover" >/dev/null &&
    ok "the installed bash completion loads" || fail "the installed bash completion does not load"

if [ -n "$desktop_deb" ]; then
    helper=$(sed -nE 's|.*"org.freedesktop.policykit.exec.path">([^<]*)<.*|\1|p' \
        "$fresh"/usr/share/polkit-1/actions/org.vallora.open-device.policy)
    if [ -x "$fresh$helper" ] && grep -qaF "$helper" "$fresh/usr/bin/vallora"; then
        ok "the polkit policy and the program name the installed helper $helper"
    else
        fail "the helper [$helper] of the polkit policy is not installed or not the program's"
    fi
fi

[ "$failures" = 0 ] && echo "== packages checked" || {
    echo "== $failures package checks failed"
    exit 1
}
