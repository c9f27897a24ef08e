#!/usr/bin/env bash
# Checks the .deb as a user would get it: its desktop entry and metainfo validate, it
# depends on the word processor, it holds the menu entry, metainfo, icons and data folder
# and nothing but executables in bin/, and the program unpacked from it starts on a
# virtual display, finds its samples and converts them through the real LibreOffice.
#
#   tests/package/check_package.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
id=example.docuflume.Docuflume
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

echo "Checking $(basename "$deb")" >&2
dpkg-deb -f "$deb" Depends | tr ',' '\n' | grep -qx ' *libreoffice-writer *' ||
    fail "the package does not depend on libreoffice-writer"

files=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's#^\./##')
for wanted in usr/bin/docuflume usr/share/applications/$id.desktop \
    usr/share/metainfo/$id.metainfo.xml usr/share/docuflume/drag.ico \
    usr/share/docuflume/Samples/ usr/share/doc/docuflume/copyright \
    usr/share/man/man1/docuflume.1.gz; do
    grep -qx "$wanted" <<<"$files" || fail "the package lacks $wanted"
done
for size in 16 24 32 48 64 128 256; do
    grep -qx "usr/share/icons/hicolor/${size}x$size/apps/$id.png" <<<"$files" ||
        fail "the package lacks the ${size} px icon"
done
[[ $(grep -c '^usr/share/docuflume/Samples/.' <<<"$files") -ge 4 ]] || fail "the samples are missing"

root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/$id.desktop"
appstreamcli validate --no-net --explain "$root/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "the metainfo does not validate: $(appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml")"
for file in "$root"/usr/bin/*; do
    [[ -f $file && -x $file ]] && file -b "$file" | grep -q '^ELF .* executable' ||
        fail "bin/ holds $(basename "$file"), which is not a program"
done

# The unpacked program, on a virtual display, in a home of its own whose settings send
# the output into the work folder.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
out=$work/out
mkdir -p "$XDG_CONFIG_HOME/Tarnwick" "$out"
printf '[Docuflume]\nOption1=True\nOption2=False\nOutput%%20Folder=%s/\n' "$out" \
    >"$XDG_CONFIG_HOME/Tarnwick/Docuflume.ini"
# (The program opens its maker's home page at about one start in a hundred: no browser
# is started for it here.)
export CHECK_ROOT=$root CHECK_OUT=$out QT_QPA_PLATFORM=xcb BROWSER=true
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash -c '
    set -euo pipefail
    "$CHECK_ROOT/usr/bin/docuflume" &
    program=$!
    trap "kill $program 2>/dev/null || true" EXIT
    window=$(timeout 60 xdotool search --sync --onlyvisible --pid $program --name "^Docuflume$" | head -1)
    # Another window of the program than the main one: a message box.
    box() { xdotool search --onlyvisible --pid $program --name "^Docuflume$" | grep -vx "$window" | head -1 || true; }
    # The design places "Load Sample/Example Files" at (400, 231) and the Start button at
    # (268, 376), in pixels from the top left of the window. A click that comes before the
    # window takes input is lost, so each is repeated until its answer shows.
    for _ in $(seq 30); do
        xdotool mousemove --window "$window" 400 231 click 1
        for _ in $(seq 20); do [[ -n $(box) ]] && break 2; sleep 0.1; done
    done
    question=$(box)
    [[ -n $question ]] || { echo "FAIL: no question after loading the samples" >&2; exit 1; }
    # Whether to open the samples folder: No.
    xdotool windowfocus --sync "$question" key Escape
    for _ in $(seq 30); do
        [[ -z $(box) ]] && break
        sleep 0.1
    done
    # Pressed again while converting, the button does nothing.
    for _ in $(seq 60); do
        xdotool mousemove --window "$window" 268 376 click 1
        for _ in $(seq 10); do
            [[ $(find "$CHECK_OUT" -maxdepth 1 -name "*.htm" | wc -l) -ge 4 ]] && break 3
            sleep 0.1
        done
    done
    # The run ends with its one "Done." box (the window takes no clicks while it shows);
    # once it is answered, no second run comes of the presses made during the first.
    for _ in $(seq 100); do [[ -n $(box) ]] && break; sleep 0.1; done
    done_box=$(box)
    [[ -n $done_box ]] || { echo "FAIL: the run did not end with its box" >&2; exit 1; }
    xdotool windowfocus --sync "$done_box" key Return
    for _ in $(seq 30); do [[ -z $(box) ]] && break; sleep 0.1; done
    sleep 3
    [[ -z $(box) ]] || { echo "FAIL: pressed during the run, Start ran again" >&2; exit 1; }
'
# Without a window and without a display, as a script runs it: the samples converted, and
# the report says so.
cli=$work/cli
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/docuflume" --convert \
    --output "$cli" --report "$cli.csv" "$root/usr/share/docuflume/Samples" 2>"$work/cli.txt" ||
    status=$?
((status == 0)) || fail "the conversion without a window ended with $status: $(cat "$work/cli.txt")"
[[ $(find "$cli" -maxdepth 1 -name '*.htm' | wc -l) -eq 4 && $(grep -c ',converted,' "$cli.csv") -eq 4 ]] ||
    fail "the conversion without a window did not convert the 4 samples: $(cat "$cli.csv")"
echo "The package converts the 4 samples without a window or display."

# Ended from outside in the middle of a run (a logout's SIGTERM, Ctrl+C's SIGINT, a closed
# terminal's SIGHUP), the program ends as when its window is closed: none of its
# instances, staging, pipe sockets or ledger is left.
many=$work/many
sockets() { find /tmp -maxdepth 1 -name "OSL_PIPE_$(id -u)_docuflume-*" | sort; }
for signal in TERM INT HUP; do
    rm -rf "$many"
    mkdir -p "$many/out"
    for k in 1 2 3 4 5 6 7 8; do
        cp "$root/usr/share/docuflume/Samples/report-with-picture.docx" "$many/doc$k.docx"
    done
    printf '[Docuflume]\nOption1=True\nOption2=False\nOutput%%20Folder=%s/\n' "$many/out" \
        >"$XDG_CONFIG_HOME/Tarnwick/Docuflume.ini"
    before=$(sockets)
    CHECK_MANY=$many CHECK_SIGNAL=$signal xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash -c '
        set -euo pipefail
        "$CHECK_ROOT/usr/bin/docuflume" "$CHECK_MANY"/doc*.docx &
        program=$!
        trap "kill -9 $program 2>/dev/null || true" EXIT
        window=$(timeout 60 xdotool search --sync --onlyvisible --pid $program --name "^Docuflume$" | head -1)
        running() { compgen -G "$CHECK_MANY/out/.docuflume-*" >/dev/null; }
        for _ in $(seq 60); do
            xdotool mousemove --window "$window" 268 376 click 1
            for _ in $(seq 40); do
                running && break 2
                sleep 0.05
            done
        done
        running || { echo "FAIL: no run under way for SIG$CHECK_SIGNAL" >&2; exit 1; }
        kill -$CHECK_SIGNAL $program
        for _ in $(seq 200); do
            kill -0 $program 2>/dev/null || exit 0
            sleep 0.1
        done
        echo "FAIL: SIG$CHECK_SIGNAL did not end the program" >&2
        exit 1
    '
    left=$(find "$many/out" -name '.docuflume-*')
    [[ -z $left ]] || fail "SIG$signal left staging: $left"
    ledgers=$(find "$XDG_CACHE_HOME/docuflume" -path '*/runs/*.lock' 2>/dev/null)
    [[ -z $ledgers ]] || fail "SIG$signal left the run's ledger: $ledgers"
    ! pgrep -f "UserInstallation=file://$XDG_CACHE_HOME/" >/dev/null ||
        fail "SIG$signal left instances: $(pgrep -af "UserInstallation=file://$XDG_CACHE_HOME/")"
    [[ $(sockets) == "$before" ]] || fail "SIG$signal left pipe sockets: $(comm -13 <(echo "$before") <(sockets))"
done
echo "Ended by SIGTERM, SIGINT and SIGHUP in a run, the program leaves nothing behind."

# Opened from the desktop with a document ("Open With"): its desktop entry, launched by gio
# with the file, starts the program with the file in the list; Start converts it.
given=$work/given
mkdir -p "$given/with space"
cp "$root/usr/share/docuflume/Samples/welcome.rtf" "$given/with space/Grüße.rtf"
printf '[Docuflume]\nOption1=True\nOption2=False\nOutput%%20Folder=%s/\n' "$given" \
    >"$XDG_CONFIG_HOME/Tarnwick/Docuflume.ini"
export CHECK_GIVEN=$given PATH=$root/usr/bin:$PATH
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash -c '
    set -euo pipefail
    gio launch "$CHECK_ROOT/usr/share/applications/example.docuflume.Docuflume.desktop" \
        "$CHECK_GIVEN/with space/Grüße.rtf"
    trap "pkill -f \"^$CHECK_ROOT/usr/bin/docuflume\" || pkill -x docuflume || true" EXIT
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "^Docuflume$" | head -1)
    for _ in $(seq 60); do
        xdotool mousemove --window "$window" 268 376 click 1
        for _ in $(seq 10); do
            [[ -f $CHECK_GIVEN/Grüße.htm ]] && exit 0
            sleep 0.1
        done
    done
'
[[ -f $given/Grüße.htm ]] || fail "the program launched from its desktop entry with a file did not convert it"
grep -qi '<html' "$given/Grüße.htm" || fail "Grüße.htm is not a page"
echo "The desktop entry opens a file given to it."

ls "$out"/*.htm >/dev/null 2>&1 || fail "the unpacked program converted nothing"
converted=$(find "$out" -maxdepth 1 -name '*.htm' | wc -l)
[[ $converted -ge 4 ]] || fail "the unpacked program converted $converted of the 4 samples"
grep -qi '<html' "$out/welcome.htm" || fail "welcome.htm is not a page"
echo "The package holds: $converted samples converted by the unpacked program."
