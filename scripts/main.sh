#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, builds (Release), makes the bundled synthetic footage once (the
# default set: 6 fisheye cameras at 1280 x 960, 10 frames, with its ground truth), runs the
# whole analysis on it through the node in the command-line host (Key All every 5 frames,
# Match, Warp; the matches per camera pair, the ghosting left before and after the warp, the
# script saved and loaded back), then renders for one frame the panorama Unwarped and Warped,
# a look-around view, the warped cameras and the misalignment heat map, and every camera view.
# Results land in build/demo/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$root/build"

demo="$root/build/demo"
mkdir -p "$demo"
cd "$demo"
if [ ! -f footage/rig.json ] || [ ! -f footage/truth/points.0010.json ]; then
    echo "== making the default footage set in $demo/footage"
    "$root/build/bin/make_rig" --out footage
fi
echo "== analysing the footage with V_DizuvaRuvi"
"$root/build/bin/vireo" "$root/demo/camera_views.vireo" -t "$root/demo/analyse.py" \
    analysed.vireo "$root/build/bin/warp_quality" footage/truth
echo "== rendering the panoramas, a look-around view and the warped cameras (frame 6)"
"$root/build/bin/vireo" analysed.vireo -t "$root/demo/render.py" "$demo" 6 \
    "$root/build/bin/pano_quality" footage/truth
echo "== rendering the camera views through V_DizuvaRuvi"
"$root/build/bin/vireo" "$root/demo/camera_views.vireo" --render Write1 --frames 1-10
echo "== done: $(ls out | wc -l) images in $demo/out"
