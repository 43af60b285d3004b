#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Stitches the first frame of the real dual-fisheye footage end to end through the node in
# vireo: rig sidecar from the maker's calibration.txt, Key, Match, Refine Rig, Warp, and the
# panorama Unwarped and Warped (Multi-Band) as PNG, into build/demo/real/<set>/out.
#
#   demo/real_footage.sh [SET ...]      SET: video_3k, video_5k (default: both)
#
# Needs a built tree (build/bin/vireo). Not part of scripts/main.sh or ctest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
data="${REAL_FOOTAGE:-$root/../shared/realdata/dual_fisheye}"
vireo="$root/build/bin/vireo"
[ -x "$vireo" ] || { echo "real_footage.sh: $vireo is missing: build the tree first" >&2; exit 1; }
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(video_3k video_5k)

for set in "${sets[@]}"; do
    src="$data/$set"
    [ -f "$src/calibration.txt" ] || { echo "real_footage.sh: $src/calibration.txt is missing" >&2; exit 1; }
    work="$root/build/demo/real/$set"
    rm -rf "$work/footage"
    mkdir -p "$work/footage" "$work/out"
    # The node's camera views are cam1 (front lens) and cam2 (back lens).
    for f in "$src"/front/front.*.jpg; do ln -s "$f" "$work/footage/cam1.${f##*/front.}"; done
    for f in "$src"/back/back.*.jpg; do ln -s "$f" "$work/footage/cam2.${f##*/back.}"; done
    first="$(ls "$src/front" | head -1)"
    size="$(python3 -c 'import struct,sys
d=open(sys.argv[1],"rb").read(); i=2
while i < len(d):
    m, n = d[i+1], struct.unpack(">H", d[i+2:i+4])[0]
    if m in (0xC0, 0xC1, 0xC2):
        h, w = struct.unpack(">HH", d[i+5:i+9]); print(w, h); break
    i += 2 + n' "$src/front/$first")"
    read -r width height <<<"$size"
    python3 "$root/demo/real_footage_rig.py" "$src/calibration.txt" "$width" "$height" \
        "$work/footage/rig.json"
    format=2K_LatLong
    cat >"$work/real.vireo" <<VIREO
# vireo script: one frame of $set through the node (written by demo/real_footage.sh).
vireo 1
views main cam1 cam2
frames 1 1
format $format

node Read Read1
    file footage/%V.####.jpg
    rig footage/rig.json
    last 1
end

node V_DizuvaRuvi DizuvaRuvi1
end

connect Read1 DizuvaRuvi1 0
VIREO
    echo "=== $set: ${width} x ${height} per lens"
    (cd "$work" && "$vireo" --yes real.vireo -t "$root/demo/real_footage.py" "$work/out")
done
