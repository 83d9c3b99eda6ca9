#!/usr/bin/env bash
# Builds the static Qt for Windows that scripts/windows.sh links PADCOM with: Qt 6.4.2 for
# MinGW-w64 (POSIX threads), Core, Gui, Widgets, Test and SerialPort, from Debian's own
# qt6-base source with the one patch beside this script. About 50 minutes on two cores.
#   packaging/windows-qt/build-qt.sh [prefix]    # default: the prefix scripts/windows.sh uses
# Needs a deb-src line for bookworm (apt-get source). The result is the same Qt as
# qt-6.4.2-mingw64-static.tar.xz: anyone may rebuild it, change it and relink PADCOM.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib.sh"
prefix=${1:-$windows_qt}
work=${PADCOM_QT_WORK:-$(mktemp -d)}
bash "$here/../../scripts/deps.sh" g++-mingw-w64-x86-64-posix ninja-build qt6-base-dev-tools \
  dpkg-dev git
cd "$work"

# Qt Base as Debian ships it (6.4.2+dfsg-10), with Direct2D left out cleanly.
[ -d qt6-base-6.4.2+dfsg ] || apt-get source --download-only qt6-base=6.4.2+dfsg-10
[ -d qt6-base-6.4.2+dfsg ] || dpkg-source -x qt6-base_6.4.2+dfsg-10.dsc
fix=$here/qtbase-directwrite3-needs-direct2d.patch
patch -d qt6-base-6.4.2+dfsg -p1 -R --dry-run -s <"$fix" >/dev/null 2>&1 \
  || patch -d qt6-base-6.4.2+dfsg -p1 <"$fix"

toolchain=$here/../../cmake/mingw-w64.cmake
host=(-DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
cmake -S qt6-base-6.4.2+dfsg -B build-qtbase -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  "${host[@]}" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_SHARED_LIBS=OFF -DFEATURE_static_runtime=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF \
  -DFEATURE_network=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF -DFEATURE_direct2d=OFF \
  -DFEATURE_tabletevent=OFF -DFEATURE_freetype=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF \
  -DFEATURE_pkg_config=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libmd4c=OFF
cmake --build build-qtbase --parallel "$(nproc)"
cmake --install build-qtbase

# Qt SerialPort 6.4.2: Debian's qt6-serialport 6.4.2-2 is this tag unchanged.
[ -d qtserialport ] || apt-get source --download-only qt6-serialport=6.4.2-2 \
  || git clone --depth 1 --branch v6.4.2 https://code.qt.io/qt/qtserialport.git
[ -d qtserialport ] || { dpkg-source -x qt6-serialport_6.4.2-2.dsc && mv qt6-serialport-6.4.2 qtserialport; }
cmake -S qtserialport -B build-qtserialport -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  "${host[@]}" -DPADCOM_WINDOWS_QT="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
cmake --build build-qtserialport --parallel "$(nproc)"
cmake --install build-qtserialport
echo "Qt for Windows installed in $prefix"
