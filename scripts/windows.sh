#!/usr/bin/env bash
# Builds PADCOM for Windows on Debian: dist/padcom.exe, one static file with no DLLs.
# Then builds the tests that need no pseudo-terminal and runs them under Wine.
#   scripts/windows.sh            # build and test
#   scripts/windows.sh --no-tests # build only
# The cross-compiled Qt comes from PADCOM_WINDOWS_QT (default: ~/.cache/padcom/
# qt-6.4.2-mingw64-static); when that folder is empty it is unpacked from
# qt-6.4.2-mingw64-static.tar.xz, looked for in PADCOM_WINDOWS_QT_ARCHIVE or ../shared/windows.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

qt=$windows_qt
archive=$windows_qt_archive

step "Checking packages" scripts/deps.sh g++-mingw-w64-x86-64-posix ninja-build \
  qt6-base-dev-tools wine wine64 xvfb xauth xdotool imagemagick xz-utils xclip

if [ ! -f "$qt/lib/cmake/Qt6/Qt6Config.cmake" ]; then
  if [ ! -f "$archive" ]; then
    cat >&2 <<MSG
No Qt for Windows at $qt, and no archive to unpack it from ($archive).
It is Qt 6.4.2 for MinGW-w64 (POSIX threads), static, built from Debian's qt6-base source
package with the patch beside that archive. Put the unpacked Qt in $qt (or point
PADCOM_WINDOWS_QT at it), or the archive at $archive, and run this again.
MSG
    exit 1
  fi
  unpack() {
    mkdir -p "$qt"
    tar -xJf "$archive" -C "$qt" --strip-components=1
  }
  step "Unpacking the Windows Qt into $qt" unpack
fi

configure() {
  cmake -S . -B build-win -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DPADCOM_WINDOWS_QT="$qt" \
    -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/tests/wine-run.sh" >build-win.log 2>&1 \
    || { cat build-win.log >&2; return 1; }
}
build() {
  cmake --build build-win --parallel "$(nproc)" >>build-win.log 2>&1 || { cat build-win.log >&2; return 1; }
  mkdir -p dist
  x86_64-w64-mingw32-strip -o dist/padcom.exe build-win/padcom.exe
  for program in padsim padtest; do
    [ ! -f "build-win/$program.exe" ] || x86_64-w64-mingw32-strip -o "dist/$program.exe" "build-win/$program.exe"
  done
  # One file: nothing but Windows' own DLLs may be imported.
  local foreign
  foreign=$(x86_64-w64-mingw32-objdump -p dist/padcom.exe | sed -n 's/.*DLL Name: //p' \
    | grep -iE 'qt6|libgcc|libstdc|winpthread|zlib|png|pcre|harfbuzz' || true)
  if [ -n "$foreign" ]; then
    echo "dist/padcom.exe needs DLLs that Windows does not have: $foreign" >&2
    return 1
  fi
  echo "    dist/padcom.exe: $(du -h dist/padcom.exe | cut -f1), one file, no DLLs of its own"
}
step "Configuring the Windows build" configure
step "Building dist/padcom.exe" build
rm -f build-win.log

[ "${1:-}" = "--no-tests" ] && exit 0

use_runtime_dir
# Wine wants a prefix of its own, made once, and a display for anything with a window.
export WINEPREFIX=${WINEPREFIX:-$PWD/build-win/wineprefix} WINEDEBUG=-all
prefix() {
  # Fonts with Windows metrics, so that line edits draw their text. COM1 would be the
  # machine's own console line: it names nothing here. COM5 is a link the suite points at
  # its keyboard, kept by Wine's mount manager, which makes the ports anew at every start.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /d 'DejaVu Sans' /f
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d /dev/null /f
  wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$WINEPREFIX/padcom-com5" /f
  wineserver -k || true
} >/dev/null 2>&1
step "Preparing the Wine prefix" prefix
wine_tests() {
  xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir build-win --output-on-failure \
    --timeout 300 2>&1 | tee build-win/ctest.log | grep -E 'Test +#|tests passed|FAIL' || true
  grep -q '100% tests passed' build-win/ctest.log
}
step "Running the tests under Wine" wine_tests

# padcom.exe end to end: the Linux padsim plays the keyboard on a pseudo-terminal that the
# prefix knows as COM5; the Wine serial bridge (tests/wine/) stands in for what Wine 8 lacks.
bridge() {
  local out=build-win/winebridge
  mkdir -p "$out"
  gcc -O2 -Wall -Wextra -Werror -shared -fPIC -o "$out/modemlines.so" tests/wine/modemlines.c -ldl
  x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Werror -shared -o "$out/commwait.dll" \
    tests/wine/commwait.c
  x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Werror -municode -o "$out/inject.exe" \
    tests/wine/inject.c
  scripts/build.sh ci # the Linux side: padsim and the suite
}
wine_endtoend() {
  PADCOM_EXE=$PWD/dist/padcom.exe PADCOM_WINE_BRIDGE=$PWD/build-win/winebridge \
    PADCOM_WINE_SCREENSHOT=$PWD/build-win/padcom-wine-open.png QT_QPA_PLATFORM=offscreen xvfb-run -a -s "-screen 0 1024x768x24" \
    build/tests/tst_windows_endtoend >build-win/endtoend.log 2>&1
  local rc=$?
  grep -E '^(PASS|FAIL|QINFO|   Loc|   Actual|   Expected|Totals)' build-win/endtoend.log \
    | sed 's/^QINFO  : TestWindowsEndToEnd::steps(\(.*\)) /    \1: /'
  return "$rc"
}
step "Building the Wine serial bridge" bridge
step "padcom.exe end to end under Wine" wine_endtoend
