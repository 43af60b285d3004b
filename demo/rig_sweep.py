# SPDX-License-Identifier: Apache-2.0
"""The user's whole road on one make_rig folder, judged against its truth, in one line.

    vireo SCRIPT.vireo -t demo/rig_sweep.py OUT_DIR FOOTAGE_DIR WARP_QUALITY PANO_QUALITY

SCRIPT.vireo (written by demo/rig_sweep.sh) reads FOOTAGE_DIR's cameras with its recorded
rig.json. On the node DizuvaRuvi1: a key at every frame, Match, Refine Rig, Match again, Warp;
the script saved as OUT_DIR/analysed.vireo and measured by warp_quality against
FOOTAGE_DIR/truth; the panorama Unwarped and Warped (Multi-Band) of the first frame as PNG
in OUT_DIR, measured by pano_quality. Prints the details, then one line of figures starting
with "rig ". Exit status 1 when a step fails.
"""
import json
import math
import os
import re
import subprocess
import sys
import time

import vireo

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "scripts")]
import match_report  # noqa: E402
import real_footage  # noqa: E402
import render  # noqa: E402


def linked_pairs(rig_path):
    """The (a, b) camera indices, a < b, that the rig file links."""
    with open(rig_path, encoding="utf-8") as f:
        cameras = json.load(f)["cameras"]
    return sorted({(min(i, j - 1), max(i, j - 1))
                   for i, cam in enumerate(cameras) for j in cam.get("links", [])})


def pair_counts(node, frame):
    counts = {}
    for cameras, _ in match_report.read_matches(node["controlPoints"].toScript()).get(frame, []):
        for i, a in enumerate(cameras):
            for b in cameras[i + 1:]:
                key = (min(a, b), max(a, b))
                counts[key] = counts.get(key, 0) + 1
    return counts


def lens_errors(node, footage, linked):
    """The largest focal-length error (percent) and optical-centre error (pixels) of the
    `linked` cameras (indices) against make_rig's true rig, as recorded and as Refine Rig
    corrected them (a camera that overlaps no other keeps its recorded lens)."""
    def cameras(path):
        with open(path, encoding="utf-8") as f:
            return json.load(f)["cameras"]
    recorded = cameras(os.path.join(footage, "rig.json"))
    true = cameras(os.path.join(footage, "truth", "rig.json"))
    words = node["rigCorrection"].value().split()
    # The correction per camera: angle-axis (3 numbers), focal factor, centre shift (2).
    scales = [float(words[1 + 6 * c + 3]) if len(words) > 6 * c + 6 else 1.0
              for c in range(len(recorded))]
    shifts = [(float(words[1 + 6 * c + 4]), float(words[1 + 6 * c + 5]))
              if len(words) > 6 * c + 6 else (0.0, 0.0) for c in range(len(recorded))]
    focal = [[], []]
    centre = [[], []]
    for c, (r, t) in enumerate(zip(recorded, true)):
        if c not in linked:
            continue
        for k, (scale, shift) in enumerate(((1.0, (0.0, 0.0)), (scales[c], shifts[c]))):
            focal[k].append(abs(100.0 * (r["focal_length"] * scale / t["focal_length"] - 1.0)))
            rc, tc = r.get("centre_shift", [0, 0]), t.get("centre_shift", [0, 0])
            centre[k].append(math.hypot(rc[0] + shift[0] - tc[0], rc[1] + shift[1] - tc[1]))
    if not focal[0]:
        return 0.0, 0.0, 0.0, 0.0
    return max(focal[0]), max(focal[1]), max(centre[0]), max(centre[1])


def eight_bit(footage, camera):
    """Whether the camera's frames are 8-bit files (every format make_rig writes but EXR)."""
    frames = [f for f in os.listdir(footage) if f.startswith(camera + ".")]
    return bool(frames) and not sorted(frames)[0].endswith(".exr")


def figures(pattern, text, count):
    found = re.search(pattern, text, re.M)
    return [float(v) for v in found.groups()] if found else [float("nan")] * count


def main(argv):
    if len(argv) != 5:
        print(__doc__.strip())
        return 2
    out, footage, warp_quality, pano_quality = argv[1:]
    os.makedirs(out, exist_ok=True)
    node = vireo.toNode("DizuvaRuvi1")
    last = node.lastFrame()  # validates the node, which reads the rig
    cameras = node["rigViews"].toScript().strip('{}"').split()
    keys = node["analysisKeyframe"]
    for frame in range(node.firstFrame(), last + 1):
        keys.setKeyAt(frame)
    frames = [int(keys.getKeyTime(i)) for i in range(keys.getNumKeys())]

    steps = real_footage.road(node, frames, quiet=True)
    if steps is None:
        return 1
    times, errors = steps
    script = os.path.join(out, "analysed.vireo")
    vireo.scriptSave(script)

    measure = subprocess.run([warp_quality, script, os.path.join(footage, "truth")],
                             capture_output=True, text=True)
    print(measure.stdout + measure.stderr, end="")
    if measure.returncode != 0:
        return 1
    before = figures(r"^\s+unwarped\s+median\s+(\S+)\s+90th percentile\s+(\S+)", measure.stdout, 2)
    after = figures(r"^\s+warped\s+median\s+(\S+)\s+90th percentile\s+(\S+)", measure.stdout, 2)

    write = vireo.createNode("Write", name="SweepWrite")
    write.setInput(0, node)
    t = time.monotonic()
    render.panoramas(node, write, out, frames[0])
    render.poles(node, write, out, frames[0])
    times["Render"] = time.monotonic() - t
    status, text, _ = render.quality(node, write, out, frames[0], cameras, pano_quality,
                                     os.path.join(footage, "truth"), pictures=False,
                                     srgb_truth=eight_bit(footage, cameras[0]))
    print(text, end="")
    if status != 0:
        return 1
    unwarped = figures(r"^unwarped\s+(\S+)\s+\S+\s+(\S+)\s+\S+\s+(\S+)", text, 3)
    warped = figures(r"^warped\s+(\S+)\s+\S+\s+(\S+)\s+\S+\s+(\S+)", text, 3)

    counts = pair_counts(node, frames[0])
    pairs = linked_pairs(os.path.join(footage, "rig.json"))
    lens = lens_errors(node, footage, {c for pair in pairs for c in pair})
    weakest = min(pairs, key=lambda p: counts.get(p, 0)) if pairs else None
    print("rig %s: %d cams, %d linked pairs, weakest cam%d-cam%d %d matches (of %d at frame "
          "%d); match error %.3f -> %.3f; correction %s; lens error focal %.2f -> %.2f %%, centre %.1f -> %.1f px; misalignment median %.3f -> %.3f, "
          "p90 %.3f -> %.3f px; PSNR seen %.2f -> %.2f, overlap %.2f -> %.2f dB; pano "
          "misalign %.4f -> %.4f; %s" % (
              os.path.basename(os.path.normpath(footage)), len(cameras), len(pairs),
              weakest[0] + 1 if weakest else 0, weakest[1] + 1 if weakest else 0,
              counts.get(weakest, 0), sum(counts.values()), frames[0],
              errors["Match"], errors["Match again"], node["rigCorrectionDegrees"].value(),
              *lens,
              before[0], after[0], before[1], after[1], unwarped[0], warped[0], unwarped[1],
              warped[1], unwarped[2], warped[2],
              ", ".join("%s %.1f s" % kv for kv in times.items())))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
