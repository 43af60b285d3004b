# SPDX-License-Identifier: Apache-2.0
"""Renders what the analysis bought, for one frame, as a user would from the node's panel.

    vireo build/demo/analysed.vireo -t demo/render.py OUT_DIR FRAME [PANO_QUALITY TRUTH_DIR]

Into OUT_DIR: the panorama Unwarped and Warped (Multi-Band), a rectilinear look-around view of
the warped panorama, every camera view warped, and (with the pano_quality program and
make_rig's truth folder) the figures against the true panorama and a heat map of the
misalignment left between overlapping cameras, before and after the warp. Prints each file
with one line of figures. Exit status 1 when a render fails.
"""
import os
import subprocess
import sys
import time

import vireo


def render(write, path, views, frame):
    write["file"].setValue(path)
    write["views"].setValue(views)
    start = time.monotonic()
    vireo.execute(write, vireo.FrameRanges([frame]))
    return time.monotonic() - start


def panoramas(node, write, out, frame, exr=True):
    """The panorama Unwarped and Warped (Multi-Band) at `frame` into OUT as PNG (and EXR, for
    pano_quality). Returns [(path, figures)] for the PNG files."""
    node["blendType"].setValue("Multi-Band")
    node["outputView"].fromScript("main")
    write["views"].setValue("main")
    files = []
    for mode, name in (("Unwarped", "pano_unwarped"), ("Warped", "pano_warped")):
        node["outputMode"].setValue(mode)
        t = render(write, os.path.join(out, name + ".png"), "main", frame)
        if exr:
            render(write, os.path.join(out, name + ".exr"), "main", frame)
        files.append((os.path.join(out, name + ".png"),
                      "panorama %s, Multi-Band, frame %d, rendered in %.2f s" % (mode, frame, t)))
    return files


def poles(node, write, out, frame):
    """A fisheye view straight up and straight down, Unwarped and Warped, into OUT as
    zenith_*.png and nadir_*.png: where the seams meet and the panorama stretches most.
    Returns [(path, figures)]."""
    node["projectionType"].setValue("Fisheye")
    files = []
    for pole, tilt in (("zenith", -90.0), ("nadir", 90.0)):
        node["rotationAngles"].setValue([tilt, 0.0, 0.0])
        for mode in ("Unwarped", "Warped"):
            node["outputMode"].setValue(mode)
            path = os.path.join(out, "%s_%s.png" % (pole, mode.lower()))
            t = render(write, path, "main", frame)
            files.append((path, "%s, fisheye view, %s, frame %d, rendered in %.2f s" %
                          (pole, mode, frame, t)))
    node["projectionType"].setValue("Spherical")
    node["rotationAngles"].setValue([0.0, 0.0, 0.0])
    return files


def quality(node, write, out, frame, cameras, pano_quality, truth_dir, pictures=True,
            srgb_truth=False):
    """Runs pano_quality on the panoramas `panoramas` wrote, against make_rig's truth.

    Each camera alone in the panorama, both ways: where two overlap, their difference is the
    misalignment the heat map shows. Alpha blending without expand keeps each camera inside
    its own frame. Returns (exit status, output); with `pictures`, also the heat map and the
    crop where the warp removed the most, as [(path, figures)] in a third item. `srgb_truth`:
    the footage is 8-bit files (read sRGB-encoded), so the truth is encoded to match."""
    node["blendType"].setValue("Alpha")
    node["expandBlend"].setValue(False)
    for mode in ("Unwarped", "Warped"):
        node["outputMode"].setValue(mode)
        folder = os.path.join(out, "cameras_" + mode.lower())
        os.makedirs(folder, exist_ok=True)
        for cam in cameras:
            node["outputView"].fromScript(cam)
            render(write, os.path.join(folder, cam + ".exr"), "main", frame)
    node["outputView"].fromScript("main")
    node["blendType"].setValue("Multi-Band")
    node["expandBlend"].setValue(True)
    truth = os.path.join(truth_dir, "pano.%04d.exr" % frame)
    heat = os.path.join(out, "misalignment.png")
    crop = os.path.join(out, "ghosting_before_after.png")
    command = [pano_quality, truth,
               os.path.join(out, "pano_unwarped.exr"), os.path.join(out, "cameras_unwarped"),
               os.path.join(out, "pano_warped.exr"), os.path.join(out, "cameras_warped")]
    if pictures:
        command += ["--heatmap", heat, "--crop", crop]
    if srgb_truth:
        command.append("--srgb-truth")
    result = subprocess.run(command, capture_output=True, text=True)
    files = [] if not pictures else [
        (heat, "misalignment between overlapping cameras (largest difference of their "
               "smoothed luma, 0 to 0.2 on the scale bar), before (top) and after (bottom) the "
               "warp"),
        (crop, "the panorama Unwarped (left) and Warped (right), 1:1, where the warp removed "
               "the most misalignment")]
    return result.returncode, result.stdout + result.stderr, files


def main(argv):
    if len(argv) not in (3, 5):
        print(__doc__.strip())
        return 2
    out, frame = argv[1], int(argv[2])
    os.makedirs(out, exist_ok=True)
    node = vireo.toNode("DizuvaRuvi1")
    node.lastFrame()  # validates the node, which reads the rig and its camera views
    cameras = node["rigViews"].toScript().strip('{}"').split()
    write = vireo.createNode("Write", name="DemoWrite")
    write.setInput(0, node)
    files = panoramas(node, write, out, frame)

    # Looking around: a rectilinear view turned toward the seam between cameras 1 and 2.
    node["projectionType"].setValue("Rectilinear")
    node["rotationAngles"].setValue([-5.0, 30.0, 0.0])
    t = render(write, os.path.join(out, "look_around.png"), "main", frame)
    files.append((os.path.join(out, "look_around.png"),
                  "rectilinear view (focal %g mm, sensor %s mm) turned by %s degrees ZXY, "
                  "warped, in %.2f s" % (node["focalLength"].value(), node["sensorSize"].value(),
                                         node["rotationAngles"].value(), t)))
    node["projectionType"].setValue("Spherical")
    node["rotationAngles"].setValue([0.0, 0.0, 0.0])

    node["cameraOutputMode"].setValue("Warped")
    t = render(write, os.path.join(out, "%V_warped.png"), " ".join(cameras), frame)
    for cam in cameras:
        files.append((os.path.join(out, cam + "_warped.png"),
                      "camera view %s warped by its grid at frame %d (all %d in %.2f s)" % (
                          cam, frame, len(cameras), t)))
    node["cameraOutputMode"].setValue("Unwarped")

    if len(argv) == 5:
        status, text, pictures = quality(node, write, out, frame, cameras, argv[3], argv[4])
        print(text, end="")
        if status != 0:
            return 1
        files += pictures

    for path, figures in files:
        print("%s: %s" % (path, figures))
    vireo.scriptSave(os.path.join(out, "rendered.vireo"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
