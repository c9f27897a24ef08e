#!/usr/bin/env bash
# Checks the floor plan on the built libraries: the core uses neither Qt Widgets (nor Qt
# Gui) nor UNO, the window does not use UNO, the core-only tests load no UNO or widget
# library, no core source includes a window header, and the window's handlers are defined
# where a reader looks for them.
#
# Usage: tst_layers.sh SOURCE_DIR CORE_SOURCES_FILE CORE_LIB WINDOW_LIB WIDGETS_SO GUI_SO
#                      "UNO_SO..." "CORE_ONLY_TEST..."
set -euo pipefail
source_dir=$1 core_sources=$2 core=$3 window=$4 widgets=$5 gui=$6
read -r -a uno <<<"$7"
read -r -a core_tests <<<"$8"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

defined() { nm -D --defined-only "$@" | awk 'NF == 3 { sub(/@.*/, "", $3); print $3 }' | sort -u; }
undefined() { nm -u "$1" 2>/dev/null | awk '{ print $NF }' | sort -u; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
defined "$widgets" >"$work/widgets"
defined "$gui" >"$work/gui"
defined "${uno[@]}" >"$work/uno"
undefined "$core" >"$work/core"
undefined "$window" >"$work/window"

uses() { # LIBRARY_SYMBOLS OBJECT_SYMBOLS WHAT
    local found
    found=$(comm -12 "$1" "$2" | head -5 | c++filt)
    [[ -z $found ]] || fail "$3 uses: $found"
}
uses "$work/widgets" "$work/core" "the core library"
uses "$work/gui" "$work/core" "the core library"
uses "$work/uno" "$work/core" "the core library"
uses "$work/uno" "$work/window" "the window library"
# UNO's types are generated inline: they would show as symbols of their own.
for library in "$core" "$window"; do
    if nm -C "$library" | grep -q 'com::sun::star::'; then
        fail "$(basename "$library") holds UNO types"
    fi
done

for test in "${core_tests[@]}"; do
    if ldd "$test" | grep -E 'libuno_|libQt6Widgets|libQt6Gui'; then
        fail "$(basename "$test") loads a library beyond the core's"
    fi
done

cd "$source_dir"
while read -r file; do
    [[ -n $file ]] || continue
    file=${file#"$source_dir"/}
    if grep -nE '#include *[<"](ui/|QtWidgets/|QtGui/|com/sun/star/|cppuhelper/|rtl/)' "$file"; then
        fail "$file (in the core) includes a window or UNO header"
    fi
done <"$core_sources"

# Form1's members are defined in ui/ or in a file named for the handlers it holds.
misplaced=$(grep -lE '^[A-Za-z].*\bForm1::[A-Za-z_0-9~]+\(' \
    $(git ls-files '*.cpp' 2>/dev/null || find . -name '*.cpp') |
    grep -vE '^(\./)?(ui/|tests/|(app|convert|doclist)/Form1_[A-Za-z]+\.cpp$)' || true)
[[ -z $misplaced ]] || fail "Form1 members defined outside ui/ and the Form1_ files: $misplaced"

if ((failed)); then
    exit 1
fi
echo "The layers hold."
