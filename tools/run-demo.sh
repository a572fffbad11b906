#!/usr/bin/env bash
# The main job: installs what is missing, builds the library and its programs,
# and captures from emulated cameras through the toolbox. Images, video and
# NUC maps are written to ./xev-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
mkdir -p xev-output
./build/default/tools/xev-capture-demo xev-output
