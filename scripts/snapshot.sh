#!/usr/bin/env bash
# Renders the main window to a PNG file without a display (default: docs/window.png).
#   scripts/snapshot.sh [OUTPUT.png] [--rows]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh build
QT_QPA_PLATFORM=offscreen build/docuflume-snapshot "${1:-docs/window.png}" "${@:2}"
