#!/usr/bin/env bash
# Sets everything up, builds Docuflume and runs the whole test suite, then runs it again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --tests

export QT_QPA_PLATFORM=offscreen

scripts/build.sh build -DDOCUFLUME_WERROR=ON
(cd build && ctest --output-on-failure --timeout 600)

# The package as a user installs it, checked from the outside.
rm -f build/docuflume_*.deb
(cd build && cpack -G DEB >/dev/null)
tests/package/check_package.sh build/docuflume_*.deb

# The Windows program, built with mingw-w64 (Qt for Windows too, the first time), its
# tests, the program driven through its window and its installer, all under Wine.
tests/windows/run_under_wine.sh build-windows

scripts/build.sh build-asan -DDOCUFLUME_WERROR=ON -DDOCUFLUME_SANITIZE=ON -DDOCUFLUME_BUILD_BENCH=OFF
(cd build-asan && LSAN_OPTIONS="suppressions=$PWD/../tests/lsan.supp" \
    ctest --output-on-failure --timeout 600)

# Every office process the tests started has ended (their profiles live in the tests'
# temporary folders).
if pgrep -f 'UserInstallation=file://[^ ]*/tst_libreoffice-' >/dev/null; then
    echo "Office processes of the tests are still running:" >&2
    pgrep -af 'UserInstallation=file://[^ ]*/tst_libreoffice-' >&2
    exit 1
fi
