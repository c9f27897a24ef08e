#!/usr/bin/env bash
# Installs what Docuflume needs to build, run and test, where it is missing (Debian 12).
# It never removes or downgrades a package the user has: apt is asked first what the
# install would do, and anything but a LibreOffice nogui package giving way to its full
# variant stops the script before anything is installed.
set -euo pipefail
here=$(dirname "$0")

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    fonts-liberation2 # metric-compatible Arial, so the window's layout holds
    # The word processor, with Writer's user interface files (the nogui variant lacks
    # them, and the office then crashes on many documents), and its UNO SDK.
    libreoffice-writer libreoffice-dev
    libxml2-dev # the HTML parser that reads the pages the office writes
    libzip-dev  # reads a .docx package, to count the words it holds
    clang-format
    xvfb xauth # a virtual display for machines without one
)
# With --tests: what the test command needs besides, to build the package and check it,
# to open the pages in a real browser, and to build the Windows program with mingw-w64
# (Qt for Windows from Debian's source), drive it under Wine through its window (xdotool
# clicks, xclip reads the boxes' text) and build its installer with NSIS.
if [[ ${1:-} == --tests ]]; then
    packages+=(dpkg-dev file desktop-file-utils appstream xdotool libglib2.0-bin)
    packages+=(parallel python3) # shards of a conversion side by side; the reports read back
    packages+=(chromium)
    packages+=(g++-mingw-w64-x86-64-posix wine wine64 xclip nsis debian-archive-keyring)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
((${#missing[@]} > 0)) || exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
install=(apt-get install -y -qq --no-install-recommends)

"${sudo[@]}" apt-get update -qq
plan=$(LC_ALL=C apt-get -s "${install[@]:1}" "${missing[@]}") || {
    echo "apt cannot install ${missing[*]}:" >&2
    echo "$plan" >&2
    exit 1
}
replacements=$("$here/apt-plan-check.sh" <<<"$plan")
if [[ -z $replacements ]]; then
    install+=(--no-remove) # nothing may go, whatever changed since the check
else
    echo "$replacements"
fi

echo "Installing: ${missing[*]}"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" "${install[@]}" "${missing[@]}"
