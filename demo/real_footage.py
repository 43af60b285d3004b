# SPDX-License-Identifier: Apache-2.0
"""One frame of real dual-fisheye footage through the node, as a user stitches it.

    vireo SCRIPT.vireo -t demo/real_footage.py OUT_DIR

SCRIPT.vireo (written by demo/real_footage.sh) reads the two lenses with a rig sidecar file
made from the maker's calibration. On its node DizuvaRuvi1: a key at the first frame, Match,
Refine Rig, Match again, Warp; prints the matches, the rig correction and the match error,
then renders the panorama Unwarped and Warped (Multi-Band) and fisheye views of the zenith and
the nadir into OUT_DIR as PNG. Exit status 1 when a step fails.
"""
import os
import sys
import time

import vireo

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "scripts")]
import match_report  # noqa: E402
import render  # noqa: E402


def road(node, frames, quiet=False):
    """Match, Refine Rig, Match again on the refined rig, Warp, on `node` at its keys `frames`.

    Returns the seconds of each step by name and the match error after it, or None when a
    step fails (said why). Prints the matches of every pass, the rig correction and the match
    error; `quiet` keeps only the failures and the second pass's matches."""
    times, errors = {}, {}

    def timed(name, knob):
        if not quiet:
            print("== %s" % name, flush=True)
        t = time.monotonic()
        node[knob].execute()
        times[name] = time.monotonic() - t
        errors[name] = node["matchError"].value()

    timed("Match", "match")
    if not node["isMatched"].value():
        print("Match found no matches")
        return None
    if not quiet:
        for key in frames:
            match_report.print_report(node, key)
    timed("Refine Rig", "refineRig")
    if not quiet:
        print("Rig Correction: %s" % node["rigCorrectionDegrees"].value())
    # The matches of the first pass were searched about the rig as recorded; on the refined
    # rig the bands are narrow and right.
    timed("Match again", "match")
    for key in frames:
        match_report.print_report(node, key)
    timed("Warp", "warp")
    if not quiet:
        print("match error %.4f" % node["matchError"].value())
    if not node["isWarped"].value():
        print("Warp stored no grids")
        return None
    return times, errors


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip())
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    node = vireo.toNode("DizuvaRuvi1")
    node.lastFrame()  # validates the node, which reads the rig

    keys = node["analysisKeyframe"]
    keys.setKeyAt(1)
    frames = [int(keys.getKeyTime(i)) for i in range(keys.getNumKeys())]
    print("analysis keys %s" % frames)
    steps = road(node, frames)
    if steps is None:
        return 1
    times = steps[0]
    print(", ".join("%s %.1f s" % kv for kv in times.items()))

    write = vireo.createNode("Write", name="RealWrite")
    write.setInput(0, node)
    for path, figures in (render.panoramas(node, write, out, frames[0], exr=False) +
                          render.poles(node, write, out, frames[0])):
        print("%s: %s" % (path, figures))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
