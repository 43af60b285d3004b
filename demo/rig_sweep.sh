#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The user's whole road through the node in vireo on make_rig folders, one line of figures per
# rig: a key at every frame, Match, Refine Rig, Match again, Warp; the misalignment of the
# truth's scene points before and after (warp_quality), the panorama Unwarped and Warped
# (Multi-Band) of the first frame as PNG, with PSNR against the true panorama (pano_quality).
#
#   demo/rig_sweep.sh FOOTAGE_DIR ...     each a make_rig --out folder, with its truth
#
# Results per rig in build/demo/sweep/<folder name>/ (log.txt holds the details). Needs a
# built tree (vireo, warp_quality, pano_quality). Not part of scripts/main.sh or ctest.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$root/build/bin"
for tool in vireo warp_quality pano_quality; do
    [ -x "$bin/$tool" ] || { echo "rig_sweep.sh: $bin/$tool is missing: build the tree first" >&2; exit 1; }
done
[ $# -gt 0 ] || { sed -n 3,11p "$0" | cut -c3-; exit 2; }

status=0
for footage in "$@"; do
    [ -d "$footage" ] || { echo "rig_sweep.sh: $footage: no such folder" >&2; exit 1; }
    footage="$(cd "$footage" && pwd)"
    name="${footage##*/}"
    [ -f "$footage/rig.json" ] && [ -d "$footage/truth" ] ||
        { echo "rig_sweep.sh: $footage: no rig.json or truth/ (make_rig --out makes both)" >&2; exit 1; }
    work="$root/build/demo/sweep/$name"
    mkdir -p "$work"
    views="$(python3 -c 'import json,sys
print(" ".join(c.get("view", "cam%d" % (i + 1))
               for i, c in enumerate(json.load(open(sys.argv[1]))["cameras"])))' "$footage/rig.json")"
    first="$(ls "$footage" | grep -m1 '^cam1\.[0-9]\{4\}\.')"
    ext="${first##*.}"
    frames="$(ls "$footage" | grep -c "^cam1\.[0-9]\{4\}\.$ext\$")"
    start="$((10#$(echo "$first" | cut -d. -f2)))"
    last="$((start + frames - 1))"
    cat >"$work/footage.vireo" <<VIREO
# vireo script: the make_rig folder $name through the node (written by demo/rig_sweep.sh).
vireo 1
views main $views
frames $start $last
format 2K_LatLong

node Read Read1
    file $footage/%V.####.$ext
    rig $footage/rig.json
    first $start
    last $last
end

node V_DizuvaRuvi DizuvaRuvi1
end

connect Read1 DizuvaRuvi1 0
VIREO
    if (cd "$work" && "$bin/vireo" --yes footage.vireo -t "$root/demo/rig_sweep.py" "$work" \
            "$footage" "$bin/warp_quality" "$bin/pano_quality") >"$work/log.txt" 2>&1; then
        grep '^rig ' "$work/log.txt"
    else
        echo "rig $name: FAILED, see $work/log.txt"
        status=1
    fi
done
exit $status
