#!/usr/bin/env bash
# Sets everything up, builds Docuflume and runs the whole test suite, then runs it again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

export QT_QPA_PLATFORM=offscreen

scripts/build.sh build
(cd build && ctest --output-on-failure --timeout 600)

scripts/build.sh build-asan -DDOCUFLUME_SANITIZE=ON -DDOCUFLUME_BUILD_BENCH=OFF
(cd build-asan && LSAN_OPTIONS="suppressions=$PWD/../tests/lsan.supp" \
    ctest --output-on-failure --timeout 600)
