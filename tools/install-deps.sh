#!/usr/bin/env bash
# Installs every package the library, its tests and its tools need, from
# Debian's archive. Quiet and quick when everything is already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev clang-format
    libboost-dev libboost-thread-dev libboost-system-dev libboost-regex-dev
    libboost-filesystem-dev libboost-date-time-dev libboost-chrono-dev
    libboost-program-options-dev
    libopencv-dev libusb-1.0-0-dev zlib1g-dev librapidxml-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    umockdev libumockdev-dev xvfb xauth libx11-dev
    aravis-tools-cli aravis-tools tshark iproute2
    pybind11-dev python3-dev python3-numpy python3-pytest
    doxygen dpkg-dev fakeroot lintian
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
