#!/usr/bin/env bash
# The Windows program driven through its window under Wine, as a user drives it: against
# the recording Word registered as Word.Application, the samples are loaded, Start converts
# them, every box is read (copied as Windows copies a message box's text, with Ctrl+C) and
# answered, and the program is closed. Then no Word of ours may be left.
# Run by run_under_wine.sh, with Wine's prefix and a display set up:
#   tests/windows/drive_window.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
trap 'echo "drive_window.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
out=$1
scratch=$2
word_log=$out/RecordingWord.log
word_acts=$out/RecordingWord.act
rm -f "$word_log" "$word_acts"

fail() {
    echo "drive_window: $*" >&2
    exit 1
}

# Registered as Word is: the class, its number and the server's command line.
clsid='{6C1E4D2A-9B7F-4E3A-8D51-2F0C77943BA1}'
wine reg add 'HKCR\Word.Application\CLSID' /ve /d "$clsid" /f >/dev/null
wine reg add "HKCR\\CLSID\\$clsid\\ProgID" /ve /d Word.Application /f >/dev/null
wine reg add "HKCR\\CLSID\\$clsid\\LocalServer32" /ve \
    /d "\"$(winepath -w "$out/RecordingWord.exe")\" -Embedding" /f >/dev/null

# The program's windows that are shown: the main window, then each box it shows, named as
# the program or, for an error report, "Application Error". (Wine keeps a window that was
# hidden.)
windows() {
    xdotool search --onlyvisible --name '^(Docuflume|Application Error)$' 2>/dev/null |
        sort -n || true
}
# Answers a box with a key and waits until it has gone.
answer() {
    xdotool key --window "$1" "$2" 2>/dev/null
    local deadline=$((SECONDS + 30))
    while [[ " $(windows | tr '\n' ' ') " == *" $1 "* ]]; do
        ((SECONDS < deadline)) || fail "the box $1 stayed after $2"
        sleep 0.1
    done
}
# Waits for a window of the program other than those given; prints it.
wait_for_window() {
    local known=" $* " deadline=$((SECONDS + 60)) window
    while ((SECONDS < deadline)); do
        for window in $(windows); do
            [[ $known == *" $window "* ]] || {
                echo "$window"
                return
            }
        done
        sleep 0.2
    done
    fail "no window came within 60 s"
}
# A box's message, as Ctrl+C copies it (title, message and buttons between dashed lines).
box_text() {
    local deadline=$((SECONDS + 10)) text
    xclip -selection clipboard -i /dev/null >/dev/null 2>&1
    while ((SECONDS < deadline)); do
        xdotool key --window "$1" ctrl+c 2>/dev/null
        text=$(timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r') || true
        if [[ -n $text ]]; then
            awk '/^-+$/ { part++; next } part == 2' <<<"$text"
            return
        fi
        sleep 0.2
    done
    fail "the box $1 gave no text"
}
# Clicks the middle of a control of the main window: its place and size in pixels.
click() {
    xdotool mousemove --window "$main" $(($1 + $3 / 2)) $(($2 + $4 / 2)) click 1
}
# Answers boxes until "Done." comes; prints the other messages.
run_to_done() {
    local box text
    while :; do
        box=$(wait_for_window "$main")
        text=$(box_text "$box")
        answer "$box" Return
        [[ $text == Done. ]] && return
        echo "$text"
    done
}

wine "$out/docuflume.exe" &
program=$!
# The start-up check passes: the first window is the main one, no box before it.
main=$(wait_for_window)
sleep 1
[[ $(windows) == "$main" ]] || fail "a box came with the main window: $(box_text "$(windows | tail -n 1)")"
[[ $(xdotool getwindowgeometry "$main") == *"Geometry: 536x433"* ]] ||
    fail "the main window is not the designed size: $(xdotool getwindowgeometry "$main")"

# "Load Sample/Example Files" (the design's places, in pixels), and no folder opened.
click 272 218 256 27
box=$(wait_for_window "$main")
[[ $(box_text "$box") == "Would you like this software to open the folder where these"* ]] ||
    fail "the samples' question did not come"
answer "$box" Escape

samples=()
for sample in "$out"/Samples/*; do
    samples+=("$(basename "${sample%.*}")")
done
desktop=$(winepath -u "$(wine cmd /c 'echo %USERPROFILE%' | tr -d '\r')")/Desktop

# "Start Converting To HTML": every sample becomes a page on the Desktop, the default output
# folder, and no box but "Done." comes.
click 8 363 520 27
others=$(run_to_done)
[[ -z $others ]] || fail "boxes came while converting the samples: $others"
for name in "${samples[@]}"; do
    [[ -s $desktop/$name.htm ]] || fail "no page for the sample $name"
done
echo "Driven under Wine: the samples converted through the window (${#samples[@]} pages, then Done.)"

# Again, with every save failing as a full disk would: a box for each document, then
# "Done.", and the pages already there left as they were.
sums=$(cd "$desktop" && find . -type f -exec md5sum {} + | sort)
printf 'SaveAs\tfail\tThe disk is full.\n' >"$word_acts"
click 8 363 520 27
others=$(run_to_done)
rm -f "$word_acts"
[[ $(grep -c 'The disk is full.' <<<"$others") == "${#samples[@]}" ]] ||
    fail "not one box for each failed save: $others"
[[ $(cd "$desktop" && find . -type f -exec md5sum {} + | sort) == "$sums" ]] ||
    fail "failed saves changed the pages already in the output folder"
echo "Driven under Wine: ${#samples[@]} failed saves, one box each, the pages there untouched"

# Closed as a user closes it: it ends, and with it every Word it started.
xdotool key --window "$main" alt+F4 2>/dev/null
for _ in $(seq 100); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.2
done
! kill -0 "$program" 2>/dev/null || fail "the program did not end when its window was closed"
wait "$program" || fail "the program ended with status $?"
sleep 1
! pgrep -f 'RecordingWord\.exe' >/dev/null || fail "a Word of ours is still running"
calls=$(tr -d '\r' <"$word_log")
started=$(awk -F '\t' '$2 == "start"' <<<"$calls" | wc -l)
quit=$(awk -F '\t' '$2 == "end" && $3 == "quit"' <<<"$calls" | wc -l)
((started == 1 + 2 * ${#samples[@]} && quit == started)) ||
    fail "$started Words started, $quit quit"
echo "Driven under Wine: $started Words started (the start-up check's among them), each quit"
