#!/usr/bin/env bash
# package_test.sh CPACK BUILD_DIR VERSION SCRATCH_DIR: builds the package into SCRATCH_DIR and checks it.
set -euo pipefail
cpack=$1 build=$2 version=$3 scratch=$4
command -v dpkg-deb >/dev/null || { echo "dpkg-deb is missing: skipped"; exit 77; }

rm -rf "$scratch"
mkdir -p "$scratch"
"$cpack" --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
deb="$scratch/kestrelion_${version}_amd64.deb"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

listing=$(dpkg-deb -c "$deb")
for entry in \
    "-rwxr-xr-x ./usr/bin/kestrelion" "-rwxr-xr-x ./usr/bin/kestrelion-cli" \
    "-rw-r--r-- ./usr/share/applications/kestrelion.desktop" \
    "-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/kestrelion.svg" \
    "-rw-r--r-- ./usr/share/metainfo/org.kestrelion.kestrelion.metainfo.xml" \
    "-rw-r--r-- ./usr/share/man/man1/kestrelion.1.gz" "-rw-r--r-- ./usr/share/man/man1/kestrelion-cli.1.gz" \
    "-rw-r--r-- ./usr/share/doc/kestrelion/copyright" "-rw-r--r-- ./usr/share/doc/kestrelion/changelog.gz"; do
    grep -qE "^${entry%% *} root/root .* ${entry#* }\$" <<<"$listing" || fail "missing or wrong mode: $entry"
done

control=$(dpkg-deb -f "$deb" Package Version Architecture)
[ "$control" = $'Package: kestrelion\nVersion: '"$version"$'\nArchitecture: amd64' ] || fail "$control"
for library in libc6 libstdc++6 libqt6core6 libqt6widgets6; do
    [[ ", $(dpkg-deb -f "$deb" Depends)" == *", $library (>= "* ]] || fail "Depends lacks $library"
done

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for side in 16 32 48 256; do
    file -b "$root/usr/share/icons/hicolor/${side}x${side}/apps/kestrelion.png" |
        grep -q "^PNG image data, $side x $side," || fail "no icon of ${side}x${side}"
done
for program in kestrelion kestrelion-cli; do
    zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q "$version" || fail "$program.1 lacks the version"
    "$root/usr/bin/$program" --version | grep -qx "$program (KestrelIon) $version" || fail "$program --version"
done
zcat "$root/usr/share/doc/kestrelion/changelog.gz" | head -1 | grep -q "^kestrelion ($version) " ||
    fail "the changelog does not start with $version"
[ "$(grep -E '^(Exec|MimeType)=' "$root/usr/share/applications/kestrelion.desktop")" = $'Exec=kestrelion %f\nMimeType=video/x-msvideo;video/avi;' ] ||
    fail "the desktop entry does not open AVI files"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/org.kestrelion.kestrelion.metainfo.xml" ||
        fail "appstreamcli validate"
fi
if ! command -v lintian >/dev/null; then
    echo "lintian is missing: its checks were skipped"
elif ! lintian --fail-on error "$deb" 2>/dev/null; then # warnings and notes are only shown
    fail "lintian reports errors"
fi

[ "$failures" -eq 0 ]
