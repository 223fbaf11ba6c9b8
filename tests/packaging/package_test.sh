#!/usr/bin/env bash
# package_test.sh CPACK BUILD_DIR VERSION SCRATCH_DIR
# Builds kestrelion_<VERSION>_amd64.deb from BUILD_DIR with CPack into SCRATCH_DIR, then checks
# the files it installs, its control fields, its icons and metadata, and lintian's verdict.
set -euo pipefail
cpack=$1 build=$2 version=$3 scratch=$4
command -v dpkg-deb >/dev/null || { echo "dpkg-deb is missing: skipped"; exit 77; }

rm -rf "$scratch"
mkdir -p "$scratch"
"$cpack" --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
deb="$scratch/kestrelion_${version}_amd64.deb"
[ -f "$deb" ] || { echo "no $deb"; ls "$scratch"; exit 1; }

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

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kestrelion ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
for library in libc6 libstdc++6 libqt6core6 libqt6widgets6; do
    [[ ", $(field Depends)" == *", $library (>= "* ]] || fail "Depends lacks $library: $(field Depends)"
done

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
# A PNG's header holds its width and height as big-endian numbers at bytes 16 and 20.
for side in 16 32 48 256; do
    png="$root/usr/share/icons/hicolor/${side}x${side}/apps/kestrelion.png"
    size=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$size" = "${side}x${side}" ] || fail "icon ${side}x${side} is ${size:-missing}"
done
for program in kestrelion kestrelion-cli; do
    zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q "$version" || fail "$program.1 lacks the version"
    "$root/usr/bin/$program" --version | grep -qx "$program (KestrelIon) $version" || fail "$program --version"
done
zcat "$root/usr/share/doc/kestrelion/changelog.gz" | head -1 | grep -q "^kestrelion ($version) " ||
    fail "the changelog does not start with $version"

if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/org.kestrelion.kestrelion.metainfo.xml" >"$scratch/appstream.log" 2>&1 ||
        { cat "$scratch/appstream.log"; fail "appstreamcli validate"; }
fi
if command -v lintian >/dev/null; then
    # Errors fail the test; warnings and notes are shown.
    lintian --fail-on error "$deb" 2>/dev/null || fail "lintian reports errors"
else
    echo "lintian is missing: its checks were skipped"
fi

[ "$failures" -eq 0 ] || exit 1
echo "$deb: contents, control fields, icons, metadata and lintian checked"
