#!/usr/bin/env bash
# The Windows program as a whole: built with mingw-w64 against Qt for Windows (made from
# Debian's own source by scripts/build-qt-mingw.sh, the first time only), with warnings as
# errors, and its installer with NSIS; then, under Wine, headless, in a Wine prefix and a
# home folder of its own that are removed afterwards:
#   - the COM layer's test against the recording Word;
#   - the project's tests that need no LibreOffice, on Qt's Windows platform;
#   - the program itself, driven through its window on a virtual display against the
#     recording Word registered as Word.Application (tests/windows/drive_window.sh);
#   - the installer: installed silently, started, removed (tests/windows/check_installer.sh).
# Skips the Wine part, saying so, only where Wine cannot start.
#   tests/windows/run_under_wine.sh [BUILD_DIR]
set -euo pipefail
trap 'echo "run_under_wine.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
cd "$(dirname "$0")/../.."
here=tests/windows

out=${1:-build-windows}
qt=$(scripts/build-qt-mingw.sh | tail -n 1)
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_PREFIX_PATH="$qt" -DCMAKE_BUILD_TYPE=Release -DDOCUFLUME_WERROR=ON \
    -DDOCUFLUME_BUILD_BENCH=OFF >/dev/null
cmake --build "$out"
rm -f "$out"/Docuflume-*-setup.exe
(cd "$out" && cpack -G NSIS >/dev/null)
out=$(realpath "$out")
echo "Built for Windows: $(cd "$out" && ls docuflume.exe Docuflume-*-setup.exe | tr '\n' ' ')"

# The prefix, the home folder Wine links the user's folders to (the Desktop the program
# writes to by default among them), and the folder Wine keeps its server's socket in
# (below TMPDIR in Debian's Wine, where it would otherwise stay) all go with this folder.
scratch=$(mktemp -d)
display_pid=
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    [[ -z $display_pid ]] || kill "$display_pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$scratch/prefix" "$scratch/tmp" "$scratch/home"
export WINEPREFIX=$scratch/prefix TMPDIR=$scratch/tmp HOME=$scratch/home
export WINEDEBUG=-all WINEARCH=win64 XDG_CONFIG_HOME=$scratch/home/.config
# No Mono or Gecko offered for a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
# (Nor the platform the Linux tests run on: Wine passes the environment to Windows programs.)
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# A virtual display of our own, for the window and the installer.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
display_pid=$!
read -r -t 30 -u "$display_fd" display_number || {
    echo "the virtual display did not start" >&2
    exit 1
}
exec {display_fd}<&-
export DISPLAY=:$display_number

# A fresh prefix is ready only once its first wineserver has finished: started earlier,
# COM finds no RPC service to reach an out-of-process server through.
if ! timeout 120 wine wineboot --init >/dev/null 2>&1 || ! timeout 120 wineserver --wait; then
    echo "SKIPPED: the Windows program under Wine (Wine cannot start on this machine)"
    exit 0
fi
# (The wine launcher's advice to add 32-bit Wine concerns 32-bit programs; ours are 64-bit.)
quiet() {
    "$@" 2> >(grep -v -e 'wine32 is missing' -e 'multiarch needs' -e 'dpkg --add-architecture' \
        -e 'apt-get install wine32' >&2)
}

quiet timeout 300 wine "$out/tst_com.exe"
quiet timeout 120 wine "$out/tst_waiting.exe"

# The program opens its maker's home page at about one start in a hundred: here no browser
# is started for it.
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d true /f >/dev/null 2>&1

# The window tests run on Qt's own Windows platform, on the virtual display, with Arial
# where Windows has it (Wine has none: the metric-compatible Liberation Sans stands in).
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d 'Liberation Sans' /f \
    >/dev/null 2>&1
# (Qt's test library writes to the debugger on Windows unless told a file.)
failed=()
run_test() {
    local name=$1 log=$scratch/$1.txt
    shift
    # (Wine's drive Z: is the host's root.)
    if env QT_QPA_PLATFORM=windows "$@" timeout 300 wine "$out/${name%%+*}.exe" \
        -o "Z:${log//\//\\},txt" >/dev/null 2>&1 && grep -q '^Totals' "$log"; then
        grep '^Totals' "$log" | tail -n 1 | sed "s/^/$name under Wine: /"
    else
        grep -E -A 4 '^(FAIL|QFATAL)' "$log" >&2 || cat "$log" >&2 || true
        failed+=("$name")
    fi
}
for test in tst_pathhelpers tst_filefunctions tst_errortrap tst_convertcommand tst_documentlist \
    tst_wordinstance tst_form1design tst_pointerfeedback tst_batchrun tst_startup \
    tst_optionsanddialogs tst_listediting tst_samples tst_foldertree tst_dropintake; do
    run_test "$test"
done
run_test tst_batchrun+planned DOCUFLUME_TEST_AHEAD=3
if ((${#failed[@]} > 0)); then
    echo "Failed under Wine: ${failed[*]}" >&2
    exit 1
fi

quiet "$here/drive_window.sh" "$out" "$scratch"
quiet "$here/check_installer.sh" "$out" "$scratch"
