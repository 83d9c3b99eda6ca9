#!/usr/bin/env bash
# What a user gets from scripts/release.sh, checked as a whole: each artifact holds exactly
# the files it should, the programs say the right version without a display, the package
# passes lintian and desktop-file-validate, and SHA256SUMS matches.
#   scripts/check-release.sh <version>     # looks in dist/
set -u # no pipefail: grep -q may stop reading early
cd "$(dirname "$0")/.."
version=$1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
same() { # same "what" <expected> <actual>
  [ "$2" = "$3" ] || fail "$1: $(diff <(echo "$2") <(echo "$3") | sed -n 's/^[<>]/&/p' | tr '\n' ' ')"
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# item <notices> <opening>: the list item of THIRD-PARTY-NOTICES.txt that opens with
# "- <opening>", up to the next item or blank line (Windows line ends or not).
item() {
  awk -v start="- $2" 'index($0, start) == 1 {on = 1; print; next}
    on && /^(- |\r?$)/ {exit} on {print}' "$1"
}

deb=dist/padcom_${version}_amd64.deb
if [ ! -f "$deb" ]; then
  fail "no $deb"
else
  icons=$(for s in 16 24 32 48 64 128 256; do echo "./usr/share/icons/hicolor/${s}x$s/apps/padcom.png"; done)
  same "the package's files" "$(sort <<LIST
./usr/bin/padcom
./usr/bin/padsim
./usr/bin/padtest
./usr/share/applications/padcom.desktop
./usr/share/applications/padsim.desktop
./usr/share/doc/padcom/THIRD-PARTY-NOTICES.txt
./usr/share/doc/padcom/changelog.gz
./usr/share/doc/padcom/copyright
$icons
./usr/share/icons/hicolor/scalable/apps/padcom.svg
./usr/share/man/man1/padcom.1.gz
./usr/share/man/man1/padsim.1.gz
./usr/share/man/man1/padtest.1.gz
LIST
)" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)"
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libqt6serialport6 libqt6widgets6 qt6-qpa-plugins; do
    grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib: $depends"
  done
  same "the package's version" "$version" "$(dpkg-deb -f "$deb" Version)"
  lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 \
    || fail "lintian: $(grep -v 'root privileges' "$work/lintian")"
  dpkg-deb -x "$deb" "$work/deb"
  out=$(desktop-file-validate "$work"/deb/usr/share/applications/*.desktop 2>&1) || fail "desktop-file-validate: $out"
  for program in padcom padsim padtest; do
    name=$program
    [ "$program" = padcom ] && name=PADCOM
    same "$program --version, no display" "$name $version" \
      "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/deb/usr/bin/$program" --version 2>&1)"
    env -u DISPLAY "$work/deb/usr/bin/$program" --help 2>&1 | grep -q -- '--version' \
      || fail "$program --help does not list --version"
    page=$(zcat "$work/deb/usr/share/man/man1/$program.1.gz")
    grep -q -- '\\-\\-version' <<<"$page" || fail "the $program man page does not list --version"
    # Portuguese, as the program's --help is, and named as the program is typed.
    same "the name on the $program man page's NOME line" "$program" \
      "$(sed -n '/^\.SH NOME$/{n;s/ \\-.*//p;q}' <<<"$page")"
    for heading in NOME SINOPSE DESCRIÇÃO OPÇÕES '"VEJA TAMBÉM"'; do
      grep -qx "\.SH $heading" <<<"$page" || fail "the $program man page has no $heading heading"
    done
    english=$(grep -E '^\.S[HS] "?(NAME|SYNOPSIS|DESCRIPTION|OPTIONS|ENVIRONMENT|FILES|EXAMPLES|AUTHOR|REPORTING BUGS|COPYRIGHT|SEE ALSO|Usage:?|Options:?)"?$|User Commands' <<<"$page")
    [ -z "$english" ] || fail "the $program man page has English headings: $(tr '\n' ' ' <<<"$english")"
  done
  # One family on the command line, with no display: --help and --version answer with 0,
  # every mistake with the usage and 2.
  while read -r -a call; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 \
      "$work/deb/usr/bin/${call[1]}" "${call[@]:2}" </dev/null 2>&1)
    rc=$?
    [ "$rc" = "${call[0]}" ] \
      || fail "${call[*]:1} exits with $rc, not ${call[0]}: $(head -n1 <<<"$out")"
    [ "${call[0]}" != 2 ] || grep -q "^Uso: ${call[1]} " <<<"$out" \
      || fail "${call[*]:1} does not print the usage"
  done <<'CALLS'
0 padcom --help
0 padcom --version
2 padcom --no-such-option
2 padcom a-stray-word
2 padcom --record
0 padsim --help
0 padsim --version
2 padsim --no-such-option
2 padsim a-stray-word
2 padsim --reply-delay x
2 padsim --port 100
0 padtest --help
0 padtest --version
2 padtest --no-such-option
2 padtest
2 padtest abc
2 padtest 0
2 padtest 100
2 padtest 5 --port 5
CALLS
  # The notices name every program the package ships.
  notices=$(item "$work/deb/usr/share/doc/padcom/THIRD-PARTY-NOTICES.txt" "Debian package:")
  for path in "$work"/deb/usr/bin/*; do
    grep -qwF "${path##*/}" <<<"$notices" \
      || fail "the notices' Debian package item does not name ${path##*/}"
  done
fi

zip=dist/padcom-$version-windows-x64.zip
if [ -f dist/padcom.exe ] && [ ! -f "$zip" ]; then
  fail "the Windows programs were built but there is no $zip"
elif [ -f "$zip" ]; then
  top=padcom-$version-windows-x64
  same "the zip's files" "$(sort <<LIST
$top/
$top/LEIA-ME.txt
$top/LICENSE.txt
$top/THIRD-PARTY-NOTICES.txt
$top/licenses/
$top/licenses/GPL-3.0.txt
$top/licenses/LGPL-3.0.txt
$top/padcom.exe
$top/padsim.exe
$top/padtest.exe
LIST
)" "$(unzip -Z1 "$zip" | sort)"
  unzip -q "$zip" -d "$work/zip"
  for exe in padcom padsim padtest; do
    file "$work/zip/$top/$exe.exe" | grep -q 'PE32+ executable (.*) x86-64' \
      || fail "$exe.exe is not a 64-bit Windows program"
    foreign=$(x86_64-w64-mingw32-objdump -p "$work/zip/$top/$exe.exe" 2>/dev/null \
      | sed -n 's/.*DLL Name: //p' | grep -iE 'qt6|libgcc|libstdc|winpthread' || true)
    [ -z "$foreign" ] || fail "$exe.exe needs DLLs the zip does not carry: $foreign"
  done
  # Every program's file properties, as Explorer shows them: the version as figures and as
  # text, the file's own name and a description, in the Portuguese block.
  IFS=. read -r major minor patch <<<"$version"
  notices=$(item "$work/zip/$top/THIRD-PARTY-NOTICES.txt" "Windows zip:")
  for exe in "$work/zip/$top"/*.exe; do
    name=${exe##*/}
    properties=$(x86_64-w64-mingw32-windres -i "$exe" -O rc 2>&1)
    for want in "FILEVERSION $major, $minor, $patch, 0" "PRODUCTVERSION $major, $minor, $patch, 0" \
      'BLOCK "041604B0"' "VALUE \"FileVersion\", \"$version\"" \
      "VALUE \"ProductVersion\", \"$version\"" "VALUE \"OriginalFilename\", \"$name\""; do
      grep -qF "$want" <<<"$properties" || fail "$name's file properties lack $want"
    done
    grep -qE 'VALUE "FileDescription", "[^"]+"' <<<"$properties" \
      || fail "$name's file properties have no description"
    grep -qwF "$name" <<<"$notices" || fail "the notices' Windows zip item does not name $name"
  done
  grep -q "PADCOM $version" "$work/zip/$top/LEIA-ME.txt" || fail "LEIA-ME.txt does not name $version"
  grep -q $'\r$' "$work/zip/$top/LEIA-ME.txt" || fail "LEIA-ME.txt has no Windows line ends"
  if command -v wine >/dev/null; then
    export WINEPREFIX=${WINEPREFIX:-$PWD/build-win/wineprefix} WINEDEBUG=-all
    for program in PADCOM padsim padtest; do
      exe=${program,,}.exe
      same "$exe --version under Wine" "$program $version" \
        "$(wine "$work/zip/$top/$exe" --version 2>/dev/null | tr -d '\r')"
    done
  fi
fi

[ -f "dist/padcom-$version-source.tar.gz" ] || fail "no source archive"
tar -tzf "dist/padcom-$version-source.tar.gz" 2>/dev/null | grep -qx "padcom-$version/LICENSE" \
  || fail "the source archive has no LICENSE at its top"
(cd dist && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
listed=$(awk '{print $2}' dist/SHA256SUMS | sort | tr '\n' ' ')
same "what SHA256SUMS covers" "$(cd dist && ls -1 *.deb *.zip *.tar.gz 2>/dev/null | sort | tr '\n' ' ')" "$listed"

if [ "$failures" -eq 0 ]; then
  echo "    release $version: package, zip, source and sums as they should be"
fi
exit $((failures > 0))
