# SPDX-License-Identifier: Apache-2.0
"""Camera matches of one analysis key, per camera pair, to judge a rig.

    vireo SCRIPT -t scripts/match_report.py NODE KEY [--match]

NODE is the V_DizuvaRuvi node of SCRIPT, KEY the frame. With --match the key is matched first
(as the Match button does for one key). Prints, for every pair of cameras that share matches,
the number of matches and their stored RMS error (mean, median, largest), then the node's
match error. Exit status 1 when the node or the key has no matches.
"""
import statistics
import sys

import vireo


def read_matches(text):
    """{frame: [(cameras, rmse)]} from the saved text of the controlPoints knob."""
    tokens = text.replace('"', " ").split()
    at = 0

    def take():
        nonlocal at
        at += 1
        return tokens[at - 1]

    version = int(take() == "version" and take())
    frames = {}
    take()  # "frames"
    for _ in range(int(take())):
        take()  # "Frame"
        frame = int(take())
        take()  # "tracks"
        matches = frames.setdefault(frame, [])
        for _ in range(int(take())):
            count = int(take())
            cameras = []
            for _ in range(count):
                cameras.append(int(take()))
                take(), take()  # x, y
            rmse = -1.0
            if version == 2:
                for _ in range(4):  # user flag, colour
                    take()
                rmse = float(take())
                for _ in range(3):
                    take()
            matches.append((cameras, rmse))
    return frames


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip())
        return 2
    node = vireo.toNode(argv[1])
    if node is None:
        print("match_report: no node named '%s'" % argv[1])
        return 1
    key = int(argv[2])
    if "--match" in argv[3:]:
        node["executeType"].setValue(0)
        keys = node["analysisKeyframe"]
        if not keys.isKey(key):
            keys.setKeyAt(key)
        vireo.execute(node, vireo.FrameRanges([key]))

    return print_report(node, key)


def print_report(node, key):
    """Prints the matches of `node` at `key` per camera pair; 1 when there are none."""
    matches = read_matches(node["controlPoints"].toScript()).get(key, [])
    if not matches:
        print("match_report: %s has no matches at frame %d" % (node.name(), key))
        return 1
    pairs = {}
    for cameras, rmse in matches:
        for i, a in enumerate(cameras):
            for b in cameras[i + 1:]:
                pairs.setdefault((min(a, b), max(a, b)), []).append(rmse)
    print("%s, frame %d: %d matches" % (node.name(), key, len(matches)))
    print("pair          matches   mean RMSE  median RMSE  max RMSE")
    for (a, b), errors in sorted(pairs.items()):
        print("cam%-3d cam%-3d %8d %11.3f %12.3f %9.3f" % (
            a + 1, b + 1, len(errors), statistics.mean(errors), statistics.median(errors),
            max(errors)))
    print("match error of the node: %.4f" % node["matchError"].value())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
