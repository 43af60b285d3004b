# SPDX-License-Identifier: Apache-2.0
"""One frame of real dual-fisheye footage through the node, as a user stitches it.

    vireo SCRIPT.vireo -t demo/real_footage.py OUT_DIR

SCRIPT.vireo (written by demo/real_footage.sh) reads the two lenses with a rig sidecar file
made from the maker's calibration. On its node DizuvaRuvi1: a key at the first frame, Match,
Refine Rig, Match again, Warp; prints the matches, the rig correction and the match error,
then renders the panorama Unwarped and Warped (Multi-Band) into OUT_DIR as PNG. Exit status
1 when a step fails.
"""
import os
import sys
import time

import vireo

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import match_report  # noqa: E402


def step(name):
    print("== %s" % name, flush=True)
    return time.monotonic()


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip())
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    node = vireo.toNode("DizuvaRuvi1")
    node.lastFrame()  # validates the node, which reads the rig

    t = step("Key")
    keys = node["analysisKeyframe"]
    keys.setKeyAt(1)
    frames = [int(keys.getKeyTime(i)) for i in range(keys.getNumKeys())]
    print("analysis keys %s (%.1f s)" % (frames, time.monotonic() - t))

    t = step("Match")
    node["match"].execute()
    print("Match: %.1f s" % (time.monotonic() - t))
    if not node["isMatched"].value():
        print("real_footage: Match found no matches")
        return 1
    for key in frames:
        match_report.print_report(node, key)

    t = step("Refine Rig")
    node["refineRig"].execute()
    print("Rig Correction: %s (%.1f s)" % (node["rigCorrectionDegrees"].value(),
                                           time.monotonic() - t))

    # The matches of the first pass were searched about the rig as recorded; on the refined
    # rig the bands are narrow and right.
    t = step("Match again, on the refined rig")
    node["match"].execute()
    print("Match: %.1f s" % (time.monotonic() - t))
    for key in frames:
        match_report.print_report(node, key)

    t = step("Warp")
    node["warp"].execute()
    print("Warp: %.1f s, match error %.4f" % (time.monotonic() - t, node["matchError"].value()))
    if not node["isWarped"].value():
        print("real_footage: Warp stored no grids")
        return 1

    write = vireo.createNode("Write", name="RealWrite")
    write.setInput(0, node)
    node["blendType"].setValue("Multi-Band")
    node["outputView"].fromScript("main")
    write["views"].setValue("main")
    for mode, name in (("Unwarped", "pano_unwarped"), ("Warped", "pano_warped")):
        t = step("Render %s" % mode)
        node["outputMode"].setValue(mode)
        path = os.path.join(out, name + ".png")
        write["file"].setValue(path)
        vireo.execute(write, vireo.FrameRanges([frames[0]]))
        print("%s (%.1f s)" % (path, time.monotonic() - t))
    return 0


sys.exit(main(sys.argv))
