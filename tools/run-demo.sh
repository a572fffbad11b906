#!/usr/bin/env bash
# The main job: installs what is missing, builds the library and its programs,
# and captures from emulated cameras through the toolbox: USB cameras on the
# emulated bus, then a GigE Vision camera served by the emulator tool on a
# loopback address; then renders the toolbox gallery. Images, video and NUC
# maps are written to ./xev-output/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
mkdir -p xev-output/gige
./build/default/tools/xev-capture-demo xev-output

# The GigE camera runs as a process of its own, as a real camera would.
address=127.0.0.2
log=xev-output/gige/emulator.log
./build/default/tools/xev-gige-emulator --address "$address" --model HeronGigE --mtu 9000 >"$log" &
emulator=$!
trap 'kill "$emulator" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    grep -q "on $address:3956" "$log" 2>/dev/null && break
    kill -0 "$emulator" 2>/dev/null || { cat "$log"; exit 1; }
    sleep 0.1
done
echo
./build/default/tools/xev-gige-demo "$address" xev-output/gige

# Every toolbox stage on a synthetic scene, the exposure-following NUC among
# them, as one contact sheet.
echo
./build/default/tools/xev-toolbox-gallery xev-output/gallery
