#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs the unit tests,
# the checks of the installed package and its examples, then the display
# tests under a virtual X server, the tests of the real libusb path under
# umockdev, the GigE Vision judges (Aravis, tshark), the broadcast tests in
# network namespaces (these skip themselves without root), the Python module,
# the API reference and the Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
cd build/default
status=0
ctest --output-on-failure -L '^unit$' -j2 || status=1
ctest --output-on-failure -L '^package$' -j2 || status=1
for label in display usb-real interop netns python docs debian; do
    if ctest -N -L "^${label}\$" | grep -q 'Total Tests: [1-9]'; then
        ctest --output-on-failure -L "^${label}\$" || status=1
    fi
done
exit $status
