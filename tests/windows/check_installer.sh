#!/usr/bin/env bash
# The installer under Wine: a silent install puts the program into Program Files with a
# Start-menu entry and an uninstaller, the installed program starts and shows its window,
# and a silent removal leaves no file, entry or registration of ours.
# Run by run_under_wine.sh, with Wine's prefix and a display set up:
#   tests/windows/check_installer.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
trap 'echo "check_installer.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
out=$1
setup=$(ls "$out"/Docuflume-*-setup.exe)

fail() {
    echo "check_installer: $*" >&2
    exit 1
}
unix() {
    winepath -u "$(wine cmd /c "echo $1" | tr -d '\r')"
}
program_files=$(unix '%ProgramW6432%')
folder=$program_files/Docuflume
menus=("$(unix '%APPDATA%')/Microsoft/Windows/Start Menu/Programs"
    "$(unix '%ProgramData%')/Microsoft/Windows/Start Menu/Programs")
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Docuflume'

timeout 120 wine "$setup" /S || fail "the silent install failed"
for file in docuflume.exe Qt6Widgets.dll platforms/qwindows.dll libstdc++-6.dll \
    Samples/welcome.rtf Uninstall.exe; do
    [[ -f $folder/$file ]] || fail "not installed: $file"
done
[[ -n $(find "${menus[@]}" -iname 'Docuflume*.lnk' 2>/dev/null) ]] ||
    fail "no Start-menu entry"
wine reg query "$key" >/dev/null 2>&1 || fail "no entry among the installed programs"

# The installed program starts (the recording Word is still registered as Word): its main
# window comes, and it is closed.
wine "$folder/docuflume.exe" &
program=$!
window=
for _ in $(seq 300); do
    window=$(xdotool search --name '^Docuflume$' 2>/dev/null | head -n 1) && [[ -n $window ]] &&
        break
    sleep 0.2
done
[[ -n $window ]] || fail "the installed program showed no window"
[[ $(xdotool getwindowgeometry "$window") == *"Geometry: 536x433"* ]] ||
    fail "the installed program's first window is not its main window"
xdotool key --window "$window" alt+F4 2>/dev/null
wait "$program" || fail "the installed program ended with status $?"

# The uninstaller runs from a copy of itself and returns at once: its work is done when
# the folder has gone.
timeout 60 wine "$folder/Uninstall.exe" /S || fail "the silent removal failed"
for _ in $(seq 300); do
    [[ -e $folder ]] || break
    sleep 0.2
done
[[ ! -e $folder ]] || fail "left behind: $(find "$folder" | head -n 5)"
[[ -z $(find "${menus[@]}" -iname 'Docuflume*' 2>/dev/null) ]] ||
    fail "a Start-menu entry is left"
! wine reg query "$key" >/dev/null 2>&1 || fail "the entry among the installed programs is left"
left=$(find "$WINEPREFIX/drive_c" -iname '*docuflume*' -not -path '*/Temp/*')
[[ -z $left ]] || fail "left behind: $left"
echo "Installer under Wine: installed silently into Program Files, started, removed leaving nothing"
