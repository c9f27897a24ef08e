#!/usr/bin/env bash
# Builds Docuflume into build/ (or the folder given) with all cores, as a user builds it.
# The test command adds -DDOCUFLUME_WERROR=ON.
#   scripts/build.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
shift || true
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOCUFLUME_WERROR=OFF \
    "$@" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
