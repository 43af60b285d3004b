# SPDX-License-Identifier: Apache-2.0
"""Views straight up and straight down of an analysed script, to judge the seams at the poles.

    vireo ANALYSED.vireo -t demo/pole_views.py OUT_DIR [FRAME]

On node DizuvaRuvi1 (already matched and warped, e.g. the script demo/real_footage.sh leaves
after `vireo SCRIPT -t demo/real_footage.py` with its analysis saved), at FRAME (default 1):
- the panorama and Fisheye views of the zenith, the nadir and the equator at longitudes 90
  and -90 degrees (where two lenses back to back meet), Unwarped and Warped, for Alpha,
  Multi-Band and Spherical Multi-Band: `<pano|zenith|nadir|east|west>_<blend>_<mode>.png`;
- every camera alone (Alpha, Expand off) in the same four views:
  `cams/<view>_<camera>_<mode>.png`.
build/bin/view_seams turns them into figures (`misalignment` of two cameras alone, `rings`
about the centre of a blended view).
Exit status 1 when a render fails.
"""
import os
import sys

import vireo

sys.path[:0] = [os.path.dirname(os.path.abspath(__file__))]
import render  # noqa: E402

POLES = (("zenith", [-90.0, 0.0, 0.0]), ("nadir", [90.0, 0.0, 0.0]))
SEAMS = (("east", [0.0, 90.0, 0.0]), ("west", [0.0, -90.0, 0.0]))
MODES = ("Unwarped", "Warped")


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip())
        return 2
    out = argv[1]
    frame = int(argv[2]) if len(argv) == 3 else 1
    os.makedirs(os.path.join(out, "cams"), exist_ok=True)
    node = vireo.toNode("DizuvaRuvi1")
    node.lastFrame()  # validates the node, which reads the rig
    cameras = node["rigViews"].toScript().strip('{}"').split()
    write = vireo.createNode("Write", name="PoleWrite")
    write.setInput(0, node)
    try:
        for blend in ("Alpha", "Multi-Band", "Spherical Multi-Band"):
            node["blendType"].setValue(blend)
            tag = blend.replace(" ", "").replace("-", "").lower()
            for mode in MODES:
                node["outputMode"].setValue(mode)
                node["projectionType"].setValue("Spherical")
                node["rotationAngles"].setValue([0.0, 0.0, 0.0])
                render.render(write, os.path.join(out, "pano_%s_%s.png" % (tag, mode.lower())),
                              "main", frame)
                node["projectionType"].setValue("Fisheye")
                for view, angles in POLES + SEAMS:
                    node["rotationAngles"].setValue(angles)
                    render.render(write, os.path.join(out, "%s_%s_%s.png" % (
                        view, tag, mode.lower())), "main", frame)
        node["blendType"].setValue("Alpha")
        node["expandBlend"].setValue(False)
        for mode in MODES:
            node["outputMode"].setValue(mode)
            for cam in cameras:
                node["outputView"].fromScript(cam)
                for view, angles in POLES + SEAMS:
                    node["rotationAngles"].setValue(angles)
                    render.render(write, os.path.join(out, "cams", "%s_%s_%s.png" % (
                        view, cam, mode.lower())), "main", frame)
    except Exception as error:  # a failed render: say which and stop
        print("pole_views: %s" % error)
        return 1
    print("wrote the views into %s" % out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
