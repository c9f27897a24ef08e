#!/usr/bin/env bash
# Builds the part of Qt the Windows program uses (Core, Gui, Widgets, Test, the windows
# platform plugin and the Vista style) for x86_64-w64-mingw32, from Debian's own qt6-base
# source with Debian's patches applied, into a cache folder outside the checkout. Does
# nothing when that folder is complete. Prints the folder.
#   scripts/build-qt-mingw.sh [--fetch-only]
# Needs dpkg-dev, cmake, ninja-build and g++-mingw-w64-x86-64-posix (scripts/setup.sh
# --tests installs them) and Qt's own host tools of the same version (qt6-base-dev-tools).
set -euo pipefail

version=$(dpkg-query -W -f '${Version}' qt6-base-dev 2>/dev/null) || {
    echo "build-qt-mingw: Qt's development files (qt6-base-dev) are not installed" >&2
    exit 1
}
upstream=${version%%+*}
prefix=${DOCUFLUME_QT_MINGW:-${XDG_CACHE_HOME:-$HOME/.cache}/docuflume/qt-$upstream-mingw}
if [[ -f $prefix/.complete ]]; then
    echo "$prefix"
    exit 0
fi

# The source comes through a private apt state with a deb-src entry for the mirror this
# system uses: the system's own sources and lists are not touched.
# Everything on the way lives beside the cache folder: a run that was killed leaves it
# there, and the next run starts by removing it.
work=$prefix.work
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
[[ -n $mirror ]] ||
    mirror=$(awk '$1 == "deb" && $0 ~ /debian/ { print ($2 ~ /^\[/ ? $3 : $2); exit }' \
        /etc/apt/sources.list 2>/dev/null)
[[ -n $mirror ]] || mirror=http://deb.debian.org/debian
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/source"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" \
    >"$work/apt/sources.list"
apt_options=(-o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts=-
    -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache"
    -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)" -qq)
apt-get "${apt_options[@]}" update
(cd "$work/source" && apt-get "${apt_options[@]}" source --only-source "qt6-base=$version" \
    >/dev/null)
source_dir=$(find "$work/source" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
[[ -f $source_dir/CMakeLists.txt ]] || {
    echo "build-qt-mingw: the qt6-base source did not unpack" >&2
    exit 1
}
if [[ ${1:-} == --fetch-only ]]; then
    echo "$source_dir (removed on exit)"
    exit 0
fi

cat >"$work/mingw.cmake" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

started=$(date +%s)
# What the program does not use is left out. (OpenGL needs its input off as well, or the
# windows plugin does not compile; Direct2D and DirectWrite 3 keep qwindows.dll from
# linking; Debian's tarball has no wintab for tablet events.)
cmake -S "$source_dir" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no \
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_freetype=OFF -DFEATURE_jpeg=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF \
    >"$work/configure.log" || {
    tail -n 40 "$work/configure.log" >&2
    exit 1
}
echo "build-qt-mingw: building Qt for Windows into $prefix (about half an hour on two cores)" >&2
cmake --build "$work/build" --parallel "$(nproc)" >"$work/build.log" 2>&1 || {
    tail -n 40 "$work/build.log" >&2
    exit 1
}
rm -rf "$prefix"
cmake --install "$work/build" >/dev/null
touch "$prefix/.complete"
echo "build-qt-mingw: built in $(($(date +%s) - started)) s, $(du -sh "$prefix" | cut -f1)" >&2
echo "$prefix"
