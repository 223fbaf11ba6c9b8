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
    "-rw-r--r-- ./usr/share/doc/kestrelion/copyright" "-rw-r--r-- ./usr/share/doc/kestrelion/changelog.gz" \
    "-rw-r--r-- ./usr/share/doc/kestrelion/README.md" \
    "-rw-r--r-- ./usr/share/bash-completion/completions/kestrelion-cli"; do
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
    page=$(zcat "$root/usr/share/man/man1/$program.1.gz")
    grep -q "$version" <<<"$page" || fail "$program.1 lacks the version"
    for section in EXAMPLES FILES '"EXIT STATUS"'; do
        grep -qx ".SH $section" <<<"$page" || fail "$program.1 lacks the section $section"
    done
    grep -q '^stat\.txt$' <<<"$page" && grep -q 'PROFILE\\fR\.ini$' <<<"$page" || fail "$program.1 lacks its files"
    "$root/usr/bin/$program" --version | grep -qx "$program (KestrelIon) $version" || fail "$program --version"
done
readelf -d "$root/usr/bin/kestrelion-cli" | grep -q 'NEEDED.*\[libstdc++' || fail "kestrelion-cli has libstdc++ linked in"

# The manual page and the completion know every subcommand and option the packaged program has.
cli="$root/usr/bin/kestrelion-cli"
page=$(zcat "$root/usr/share/man/man1/kestrelion-cli.1.gz")
complete_words() { # the words on the command line, the last one being completed
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _kestrelion_cli; echo "${COMPREPLY[*]}"' \
        _ "$root/usr/share/bash-completion/completions/kestrelion-cli" "$@"
}
subcommands=$("$cli" --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { exit }')
for subcommand in $subcommands; do
    [ "$(complete_words kestrelion-cli "${subcommand%?}")" = "$subcommand" ] || fail "no completion of $subcommand"
    section=$(awk -v head=".SS \"kestrelion\\\\-cli ${subcommand//-/\\\\-} " 'index($0, head) == 1 { on = 1; next } /^\.S[SH]/ { on = 0 } on' <<<"$page")
    [ -n "$section" ] || fail "kestrelion-cli.1 lacks the subcommand $subcommand"
    [ "$subcommand" = help ] && continue
    offered=" $(complete_words kestrelion-cli "$subcommand" -) "
    for option in $("$cli" help "$subcommand" | grep -oE '^  --[a-z-]+'); do
        grep -qF "\\fB${option//-/\\-}\\fR" <<<"$section" || fail "kestrelion-cli.1 lacks $subcommand $option"
        [[ $offered == *" $option "* ]] || fail "no completion of $subcommand $option"
    done
done
[ "$(complete_words kestrelion-cli verify --f)" = "--fm --final --frame-pos --fit" ] || fail "completion of verify --f"
[ -z "$(complete_words kestrelion-cli create --size "")" ] || fail "completion of a number"
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
else
    # Notes are only shown; errors, warnings and the tags of missing hardening or unneeded sections fail.
    lintian --display-info --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 || fail "lintian reports errors or warnings"
    cat "$scratch/lintian.log"
    ! grep -E '^[EW]: |hardening-|binary-has-unneeded-section' "$scratch/lintian.log" || fail "lintian tags above"
fi

[ "$failures" -eq 0 ]
