#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds (Release), makes the bundled synthetic footage once (the
# default set: 6 fisheye cameras at 1280 x 960, 10 frames) and renders every camera view of it
# through the node with the command-line host. Results land in build/demo/out/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$root/build"

demo="$root/build/demo"
mkdir -p "$demo"
cd "$demo"
if [ ! -f footage/rig.json ]; then
    echo "== making the default footage set in $demo/footage"
    # The ground truth is for tests and benchmarks; the demo renders the camera images only.
    "$root/build/bin/make_rig" --out footage --no-truth
fi
echo "== rendering the camera views through V_DizuvaRuvi"
"$root/build/bin/vireo" "$root/demo/camera_views.vireo" --render Write1 --frames 1-10
echo "== done: $(ls out | wc -l) images in $demo/out"
