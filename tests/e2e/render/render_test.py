# SPDX-License-Identifier: Apache-2.0
# Camera views and the panorama rendered through vireo, Unwarped and Warped, on a small
# generated rig whose grids are set by hand: camera 1 (cam1) is shifted by 3 pixels, camera 2
# (cam2) has a zero grid. Warped and Unwarped must differ where the grid is not zero and agree
# exactly where it is.
import re

import vireo

MODES = ("Unwarped", "Warped")

node = vireo.toNode("DizuvaRuvi1")
node["resampleType"].setValue("Bilinear")
node["outputFormat"].fromScript("256 128")


def grid(dx, dy):
    return "".join("  " + "%g %g " % (dx, dy) * 3 + "\n" for _ in range(3))


text = "version 1\ntotal 2\n"
for camera, (dx, dy) in ((0, (3, 0)), (1, (0, 0))):
    text += "frame 1 camera %d\n3 3\n%s\n" % (camera, grid(dx, dy))
node["gridMap"].fromScript(text)

write = vireo.createNode("Write", name="W")
write.setInput(0, node)
write["channels"].setValue("rgb")


def render(knob, name, views):
    """Renders `views` with `knob` at Unwarped, then at Warped."""
    write["views"].setValue(views)
    for mode in MODES:
        node[knob].setValue(mode)
        write["file"].setValue("out/%s_%s_%%V.####.ppm" % (name, mode))
        vireo.execute(write, vireo.FrameRanges([1]))


def pixels(path):
    """The bytes of a binary PPM and its size."""
    with open(path, "rb") as f:
        data = f.read()
    header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+\d+\s", data)
    assert header, data[:20]
    return int(header[1]), int(header[2]), data[header.end():]


def both(name, view):
    """The Unwarped and the Warped render of `view`, each as (width, height, bytes)."""
    return [pixels("out/%s_%s_%s.0001.ppm" % (name, mode, view)) for mode in MODES]


render("cameraOutputMode", "camera", "cam1 cam2")
(w, h, a), (_, _, b) = both("camera", "cam1")
# Output x shows input x + 3: compare inside the frame, away from the right edge.
row = h // 2
shifted = sum(1 for x in range(w - 3) for c in range(3)
              if b[(row * w + x) * 3 + c] == a[(row * w + x + 3) * 3 + c])
assert shifted >= 0.95 * 3 * (w - 3), (shifted, w)
assert a != b, "a non-zero grid changes the camera view"
(_, _, a2), (_, _, b2) = both("camera", "cam2")
assert a2 == b2, "a zero grid leaves the camera view as it is"

# The panorama: Warped differs from Unwarped, since cam1 moved.
node["blendType"].setValue("Alpha")
render("outputMode", "pano", "main")
(_, _, p0), (_, _, p1) = both("pano", "main")
assert p0 != p1
print("render: camera views and panorama ok (%d x %d cameras)" % (w, h))
