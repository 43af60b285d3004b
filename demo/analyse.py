# SPDX-License-Identifier: Apache-2.0
"""The whole analysis of the bundled footage, as a user runs it from the node's panel.

    vireo demo/camera_views.vireo -t demo/analyse.py OUT_SCRIPT [WARP_QUALITY TRUTH_DIR]

Key All (Step 5), Match, Warp on the node DizuvaRuvi1; prints the match error, the matches per
camera pair of every key, and (with the warp_quality program and make_rig's truth folder) the
misalignment of the scene's points before and after the warp. Saves the script to OUT_SCRIPT,
loads it back and checks that the stores come back equal. Exit status 1 when a step fails.
"""
import os
import subprocess
import sys
import time

import vireo

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import match_report  # noqa: E402

STORES = ("analysisKeyframe", "controlPoints", "gridMap", "constraints")


def step(name):
    print("== %s" % name, flush=True)
    return time.monotonic()


def stores(node):
    return {k: node[k].toScript() for k in STORES}


def main(argv):
    if len(argv) not in (2, 4):
        print(__doc__.strip())
        return 2
    out_script = argv[1]
    node = vireo.toNode("DizuvaRuvi1")
    times = {}
    start = time.monotonic()

    t = step("Key All, every 5 frames")
    node["keyStep"].setValue(5)
    node["addAllAnalysisKeys"].execute()
    keys = node["analysisKeyframe"]
    frames = [int(keys.getKeyTime(i)) for i in range(keys.getNumKeys())]
    print("analysis keys: %s" % frames)
    times["keys"] = time.monotonic() - t

    t = step("Match")
    node["match"].execute()
    times["match"] = time.monotonic() - t
    if not node["isMatched"].value():
        print("analyse: Match found no matches")
        return 1
    for key in frames:
        match_report.print_report(node, key)

    t = step("Warp")
    node["warp"].execute()
    times["warp"] = time.monotonic() - t
    if not node["isWarped"].value():
        print("analyse: Warp stored no grids")
        return 1

    t = step("Save and load back")
    vireo.scriptSave(out_script)
    saved = stores(node)
    vireo.scriptOpen(out_script)
    node = vireo.toNode("DizuvaRuvi1")
    loaded = stores(node)
    for k in STORES:
        same = "equal" if loaded[k] == saved[k] else "DIFFERENT"
        print("  %-16s %8d bytes, %s after the reload" % (k, len(saved[k]), same))
    if loaded != saved:
        return 1
    times["save"] = time.monotonic() - t

    if len(argv) == 4:
        t = step("Misalignment of the ground-truth scene points")
        measure = subprocess.run([argv[2], out_script, argv[3]], capture_output=True, text=True)
        print(measure.stdout + measure.stderr, end="")
        if measure.returncode != 0:
            return 1
        times["measure"] = time.monotonic() - t

    print("== done in %.1f s (%s); match error %.4f; script saved as %s" % (
        time.monotonic() - start,
        ", ".join("%s %.1f s" % kv for kv in times.items()),
        node["matchError"].value(), out_script))
    return 0


sys.exit(main(sys.argv))
