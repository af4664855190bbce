#!/usr/bin/env bash
# Builds the .deb from a built tree, unpacks it into a temporary root and checks what a user
# would get: the programs, the desktop entry, icons, metainfo and man pages, all valid.
# Usage: check_deb.sh BUILD_DIR SOURCE_DIR VERSION     (exit 77: a tool it needs is missing)
set -uo pipefail
build=$1 source=$2 version=$3
for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli rsvg-convert \
    compare; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool (scripts/setup installs it)"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1
deb=$(ls "$work"/out/talven-testbench_"$version"_*.deb 2>/dev/null)
if [ ! -f "$deb" ]; then
    cat "$work/cpack.log"
    echo "FAIL: no talven-testbench_${version}_*.deb"
    exit 1
fi
root=$work/root
dpkg-deb -x "$deb" "$root" || exit 1

depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt5widgets5* && $depends == *libqt5serialport5* ]] \
    || fail "Depends lacks the Qt libraries: '$depends'"

programs=(talven-testbench lumbrio-sim marlo-emu)
[ -d "$source/src/runner" ] && programs+=(talven-gateway)
app=org.talven.testbench icons=usr/share/icons/hicolor
expected=(usr/share/applications/$app.desktop usr/share/metainfo/$app.metainfo.xml
    $icons/scalable/apps/$app.svg)
for size in 16 22 24 32 48 64 128 256; do expected+=($icons/${size}x$size/apps/$app.png); done
for program in "${programs[@]}"; do
    expected+=(usr/bin/$program usr/share/man/man1/$program.1.gz)
done
[ -f "$source/tools/wireshark/talven.lua" ] && expected+=(usr/share/talven/wireshark/talven.lua)
for file in "${expected[@]}"; do
    [ -s "$root/$file" ] || fail "missing in the package: /$file"
done

desktop-file-validate "$root/${expected[0]}" || fail "desktop entry invalid"
appstreamcli validate --no-net "$root/${expected[1]}" || fail "metainfo invalid"
grep -q "<release version=\"$version\"" "$root/${expected[1]}" || fail "no release $version"

# Every tool says the project's version; its man page is its --help, so it lists --version too.
for program in "${programs[@]:1}"; do
    out=$("$root/usr/bin/$program" --version 2>&1)
    [ "$out" = "$program $version" ] || fail "$program --version printed '$out'"
    zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q -- '\\-\\-version' \
        || fail "$program.1 lacks --version"
done

# The committed PNG sizes must still be the SVG's renderings (packaging/icons/render).
for png in "$root"/$icons/*x*/apps/$app.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    rsvg-convert -w "${size%x*}" -h "${size%x*}" "$root/${expected[2]}" -o "$work/icon.png"
    differing=$(compare -metric AE -fuzz 2% "$png" "$work/icon.png" null: 2>&1)
    [ "$differing" = 0 ] || fail "$size icon is stale: $differing pixels differ from the SVG"
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s) in $(basename "$deb")"; exit 1; }
echo "ok: $(basename "$deb")"
