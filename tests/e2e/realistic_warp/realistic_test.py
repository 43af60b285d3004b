# SPDX-License-Identifier: Apache-2.0
# The warp must not make footage from a real rig worse. One key of make_rig's realistic set,
# read with its rig as recorded: Match and Warp, then Refine Rig (dropping that warp), Match
# again and Warp, each result saved and measured by warp_quality against the scene's true
# points, at the depth the warp was solved at. The warp takes out most of what the recorded rig leaves and most of what
# the refined one leaves, the tail included; Refine Rig takes out most of the calibration error.
# Matches that follow the noise or the exposure differences, a solve that trusts them over its
# smoothness, or grids applied at another depth than they were solved at fail here.
#
#     vireo --no --yes --yes footage.vireo --set ... -t realistic_test.py WARP_QUALITY
import re
import subprocess
import sys

import vireo


def measure(name):
    """Saves the script as NAME.vireo; warp_quality's (median, 90th percentile) per row."""
    vireo.scriptSave(name + ".vireo")
    result = subprocess.run([sys.argv[1], name + ".vireo", "footage/truth"],
                            capture_output=True, text=True)
    print("-- %s\n%s" % (name, result.stdout + result.stderr), end="")
    assert result.returncode == 0, result.returncode
    # The misalignment between the cameras; the offsets from the true directions that follow
    # keep the orientation error of the rig as recorded, which no warp takes out.
    misalignment = result.stdout.split("offset of")[0]
    rows = dict((m[0], (float(m[1]), float(m[2]))) for m in re.findall(
        r"^ *(unwarped|warped) +median +([0-9.]+) +90th percentile +([0-9.]+)",
        misalignment, re.M))
    assert set(rows) == {"unwarped", "warped"}, result.stdout
    return rows["unwarped"], rows["warped"]


def assert_warp_pays_off(name, unwarped, warped):
    assert warped[0] < 0.5 * unwarped[0], "%s: the warp leaves %.3f of a median %.3f px" % (
        name, warped[0], unwarped[0])
    assert warped[1] < unwarped[1], "%s: the warp raises the 90th percentile %.3f -> %.3f px" % (
        name, unwarped[1], warped[1])


node = vireo.toNode("DizuvaRuvi1")
node.lastFrame()
node["analysisKeyframe"].setKeyAt(1)
node["match"].execute()
node["warp"].execute()
assert node["isWarped"].value(), "Warp stored no grids on the rig as recorded"
recorded = measure("recorded")
assert_warp_pays_off("rig as recorded", *recorded)

# The grids of the rig as recorded pull the cameras apart on the refined rig: Refine Rig asks
# and drops them with the change; a no changes nothing.
node["refineRig"].execute()
assert node["rigCorrectionDegrees"].value() == "none" and node["isWarped"].value(), \
    "Refine Rig answered no changed the rig or dropped the warp"
node["refineRig"].execute()
print("Rig Correction: %s" % node["rigCorrectionDegrees"].value())
assert node["rigCorrectionDegrees"].value() != "none", "Refine Rig left the rig as recorded"
assert not node["isWarped"].value(), "Refine Rig kept the grids solved on the rig as recorded"
node["match"].execute()
node["warp"].execute()
assert node["isWarped"].value(), "Warp stored no grids on the refined rig"
refined = measure("refined")
assert_warp_pays_off("refined rig", *refined)
assert refined[0][0] < 0.6 * recorded[0][0], "Refine Rig leaves %.3f of %.3f px" % (
    refined[0][0], recorded[0][0])
assert refined[1][0] <= recorded[1][0], "the warp on the refined rig is worse: %.3f > %.3f px" % (
    refined[1][0], recorded[1][0])
print("realistic warp: median %.3f -> %.3f px as recorded, %.3f -> %.3f px refined" % (
    recorded[0][0], recorded[1][0], refined[0][0], refined[1][0]))
