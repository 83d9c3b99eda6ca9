#!/usr/bin/env bash
# Makes what users install, in dist/:
#   padcom_<version>_amd64.deb           the Debian package (Debian 12 and newer)
#   padcom-<version>-windows-x64.zip     padcom.exe, padsim.exe, padtest.exe, licences,
#                                        LEIA-ME.txt
#                                        (where the Qt for Windows is at hand, as in windows.sh)
#   padcom-<version>-source.tar.gz       the source of this very commit, which the LGPL asks for
#   SHA256SUMS
# then checks what is inside them (scripts/check-release.sh). The version is project()'s in
# CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

step "Checking packages" scripts/deps.sh help2man locales dpkg-dev file lintian desktop-file-utils \
  zip unzip binutils
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "    note: the tree has uncommitted changes; the source archive is made from HEAD" >&2
fi

build_linux() {
  cmake --preset release --fresh >build-release.log 2>&1 \
    && cmake --build --preset release --parallel "$(nproc)" >>build-release.log 2>&1 \
    || { cat build-release.log >&2; return 1; }
  rm -f build-release.log
}
step "Building the programs (Release)" build_linux
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-release/CMakeCache.txt)
echo "    version $version"
rm -f dist/*.deb dist/*.zip dist/*.tar.gz dist/SHA256SUMS
mkdir -p dist

package() {
  (cd build-release && cpack -B package >cpack.log 2>&1) || { cat build-release/cpack.log >&2; return 1; }
  mv "build-release/package/padcom_${version}_amd64.deb" dist/
}
step "Making the Debian package" package

# Text files as Windows' editors expect them: CRLF, and a BOM so that accents show.
windows_text() { # windows_text <from> <to>
  { printf '\xef\xbb\xbf'; sed 's/\r*$/\r/' "$1"; } >"$2"
}
zip_windows() {
  local name=padcom-$version-windows-x64 stage=build-release/zip
  rm -rf "$stage" && mkdir -p "$stage/$name/licenses"
  cp dist/padcom.exe dist/padsim.exe dist/padtest.exe "$stage/$name/"
  windows_text LICENSE "$stage/$name/LICENSE.txt"
  windows_text THIRD-PARTY-NOTICES.txt "$stage/$name/THIRD-PARTY-NOTICES.txt"
  windows_text /usr/share/common-licenses/LGPL-3 "$stage/$name/licenses/LGPL-3.0.txt"
  windows_text /usr/share/common-licenses/GPL-3 "$stage/$name/licenses/GPL-3.0.txt"
  sed "s/@VERSION@/$version/g" packaging/windows/LEIA-ME.txt.in >"$stage/LEIA-ME.txt"
  windows_text "$stage/LEIA-ME.txt" "$stage/$name/LEIA-ME.txt"
  (cd "$stage" && zip -q -X -9 -r "../../dist/$name.zip" "$name")
}
if windows_qt_at_hand; then
  step "Building the Windows programs" scripts/windows.sh --no-tests
  step "Making the Windows zip" zip_windows
else
  echo "==> No Qt for Windows here (see scripts/windows.sh): no Windows zip."
fi

step "Archiving the source" git archive --format=tar.gz --prefix="padcom-$version/" \
  -o "dist/padcom-$version-source.tar.gz" HEAD
(cd dist && shopt -s nullglob && sha256sum -- *.deb *.zip *.tar.gz >SHA256SUMS)
step "Checking what is inside" scripts/check-release.sh "$version"
echo
(cd dist && shopt -s nullglob && for f in *.deb *.zip *.tar.gz SHA256SUMS; do
  printf '    dist/%-38s %s\n' "$f" "$(du -h "$f" | cut -f1)"
done)
