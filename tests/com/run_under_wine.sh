#!/usr/bin/env bash
# First compiles every source of the Windows program with mingw-w64. Qt for Windows cannot
# be had here, so they are compiled against this machine's Qt headers (the same API) and not
# linked: that checks our Win32 and COM calls, the Windows branches and what the Windows
# compiler lacks, not the program as a whole.
# Then builds the COM automation layer's test and the recording Word, and runs the test
# under Wine, headless, in a Wine prefix of its own that is removed afterwards. Skips that
# run, saying so, only where Wine cannot start.
#   tests/com/run_under_wine.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."

out=${1:-build/wine}
mkdir -p "$out"
cxx=x86_64-w64-mingw32-g++-posix
common=(-std=c++20 -Wall -Wextra -Werror -I. -DUNICODE -D_UNICODE)
flags=("${common[@]}" -O1 -static)
libs=(-lole32 -loleaut32 -luuid)

# The Windows program's sources: everything but the Linux engine, its pages and the POSIX
# calls.
qt=$(pkg-config --variable=includedir Qt6Core)
mkdir -p "$out/generated"
sed 's/@[A-Z_]*@/-/g' app/BuildConfig.h.in >"$out/generated/BuildConfig.h"
find app convert doclist shell ui -name '*.cpp' -not -name '*_posix.cpp' \
    -not -path 'convert/libreoffice/*' -not -path 'convert/pages/*' -print0 | sort -z |
    xargs -0 -n1 -P"$(nproc)" "$cxx" "${common[@]}" -fsyntax-only \
        -DQT_NO_KEYWORDS -DQT_NO_CAST_FROM_ASCII -I"$out/generated" \
        -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtGui" -isystem "$qt/QtWidgets"
echo "Compiled for Windows: the program's sources (against Qt's headers, not linked)"

"$cxx" "${flags[@]}" -municode -o "$out/RecordingWord.exe" tests/com/RecordingWord.cpp "${libs[@]}"
"$cxx" "${flags[@]}" -o "$out/tst_com.exe" convert/com/ComDispatch.cpp \
    convert/com/ServerProcess.cpp convert/com/WordEngine.cpp tests/com/tst_com.cpp \
    "${libs[@]}"

# The prefix, and the folder Wine keeps its server's socket in (below TMPDIR in Debian's
# Wine, where it would otherwise stay), both go with this folder.
scratch=$(mktemp -d)
prefix=$scratch/prefix
mkdir "$prefix" "$scratch/tmp"
cleanup() {
    WINEPREFIX=$prefix TMPDIR=$scratch/tmp wineserver -k >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT
export WINEPREFIX=$prefix TMPDIR=$scratch/tmp WINEDEBUG=-all WINEARCH=win64
# No display: nothing here needs one. No Mono or Gecko offered for a fresh prefix.
unset DISPLAY WAYLAND_DISPLAY
export WINEDLLOVERRIDES="mscoree,mshtml="

# A fresh prefix is ready only once its first wineserver has finished: started earlier,
# COM finds no RPC service to reach an out-of-process server through.
if ! timeout 120 wine wineboot --init >/dev/null 2>&1 || ! timeout 120 wineserver --wait; then
    echo "SKIPPED: the COM layer's test under Wine (Wine cannot start on this machine)"
    exit 0
fi
# (The wine launcher's advice to add 32-bit Wine concerns 32-bit programs; ours are 64-bit.)
timeout 300 wine "$out/tst_com.exe" 2> >(grep -v -e 'wine32 is missing' -e 'multiarch needs' \
    -e 'dpkg --add-architecture' -e 'apt-get install wine32' >&2)
