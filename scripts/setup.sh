#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages the build needs, and any named as arguments (scripts/bench.sh
# adds enblend, which blend_bench compares against). Quick when everything is already there:
# apt is only asked when dpkg reports a package missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libeigen3-dev libboost-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libopencv-dev libopenimageio-dev libceres-dev
    qt6-base-dev
    python3-dev pybind11-dev
    nlohmann-json3-dev
    clang-format git
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo_cmd apt-get update -qq
    $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "setup: all packages present"
fi
