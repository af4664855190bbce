#!/usr/bin/env bash
# Builds the .deb from a built tree, unpacks it into a temporary root and checks what a user
# would get: the programs, the desktop entry, icons, metainfo and man pages, all valid.
# Usage: check_deb.sh BUILD_DIR SOURCE_DIR VERSION     (exit 77: a tool it needs is missing)
set -uo pipefail
build=$1 source=$2 version=$3

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli rsvg-convert compare; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (scripts/setup installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
debs=("$work"/out/talven-testbench_"$version"_*.deb)
[ -f "${debs[0]}" ] || { cat "$work/cpack.log"; echo "FAIL: no talven-testbench_${version}_*.deb"; exit 1; }
deb=${debs[0]}
root=$work/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }

# Control data: computed dependencies (Qt at least) and a description.
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt5widgets5* && $depends == *libqt5serialport5* ]] \
    || fail "Depends lacks the Qt libraries: '$depends'"
[ -n "$(dpkg-deb -f "$deb" Description | sed -n 2p)" ] || fail "no long description"

programs=(talven-testbench lumbrio-sim marlo-emu)
[ -d "$source/src/runner" ] && programs+=(talven-gateway)
app=org.talven.testbench
expected=(
    "usr/share/applications/$app.desktop"
    "usr/share/metainfo/$app.metainfo.xml"
    "usr/share/icons/hicolor/scalable/apps/$app.svg"
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$app.png")
done
for program in "${programs[@]}"; do
    expected+=("usr/bin/$program" "usr/share/man/man1/$program.1.gz")
done
if [ -f "$source/tools/wireshark/talven.lua" ]; then
    expected+=(usr/share/talven/wireshark/talven.lua)
fi
for file in "${expected[@]}"; do
    [ -s "$root/$file" ] || fail "missing in the package: /$file"
done

desktop-file-validate "$root/usr/share/applications/$app.desktop" || fail "desktop entry invalid"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml" || fail "metainfo invalid"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$app.metainfo.xml" \
    || fail "metainfo has no release entry for $version"

# Every tool says the project's version; its man page is its --help, so it lists --version too.
for program in "${programs[@]:1}"; do
    out=$("$root/usr/bin/$program" --version 2>&1)
    [ "$out" = "$program $version" ] || fail "$program --version printed '$out'"
    zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q -- '\\-\\-version' \
        || fail "$program.1 lacks --version"
done

# The committed PNG sizes must still be the SVG's renderings.
icons=$source/packaging/icons/hicolor
for png in "$icons"/*x*/apps/$app.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    rsvg-convert -w "${size%x*}" -h "${size%x*}" "$icons/scalable/apps/$app.svg" -o "$work/icon.png"
    differing=$(compare -metric AE -fuzz 2% "$png" "$work/icon.png" null: 2>&1)
    [ "$differing" = 0 ] || fail "$size icon differs from the SVG ($differing pixels): run packaging/icons/render"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s) in $(basename "$deb")"
    exit 1
fi
echo "ok: $(basename "$deb")"
