#!/usr/bin/env bash
# Sets everything up, builds Docuflume and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh build

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    echo "No display found: starting Docuflume on a virtual X display (Xvfb)."
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" build/docuflume
fi
exec build/docuflume
