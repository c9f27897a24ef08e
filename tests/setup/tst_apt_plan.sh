#!/usr/bin/env bash
# The set-up's safety check against what apt said (or would say) on real machines: only a
# LibreOffice nogui package may give way to its full variant; every other removal or a
# downgrade stops the set-up.
set -uo pipefail
here=$(dirname "$0")
check=$here/../../scripts/apt-plan-check.sh
failed=0

expect() { # case, exit status wanted, text wanted in the output
    local output status
    output=$("$check" <"$here/$1.apt" 2>&1)
    status=$?
    if [[ $status -ne $2 || $output != *"$3"* ]]; then
        echo "FAIL $1: status $status, output: $output"
        failed=1
    else
        echo "PASS $1"
    fi
}

expect plain-install 0 ""
expect nogui-to-full 0 "Replacing libreoffice-writer-nogui libreoffice-core-nogui by the full variant"
expect full-to-nogui 1 "would remove: libreoffice-writer"
expect older-full-variant 1 "would remove: libreoffice-writer-nogui libreoffice-core-nogui"
expect other-removal 1 "would remove: libqt6core6-nogui"
expect downgrade 1 "would downgrade: cmake (3.27.1-1~bpo12+1 -> 3.25.1-1)"
[[ -z $("$check" <"$here/plain-install.apt") ]] || { echo "FAIL plain-install prints"; failed=1; }
exit $failed
