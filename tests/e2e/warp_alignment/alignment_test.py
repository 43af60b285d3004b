# SPDX-License-Identifier: Apache-2.0
# The warp as the panorama shows it, end to end: a small generated rig analysed through the
# node's buttons (Key All, Match, Warp), then the Multi-Band panorama and every camera alone
# rendered Unwarped and Warped and scored by pano_quality against the true panorama. The warp
# must pay off where it is meant to: each camera alone lands closer to the truth (the grid
# only, no vector field), the overlaps gain, the whole panorama loses nothing, and the
# misalignment between overlapping cameras drops. A warp applied at another convergence depth
# than it was solved at, scaled, or in the wrong direction fails here.
#
#     vireo footage.vireo --set ... -t alignment_test.py PANO_QUALITY
import os
import re
import subprocess
import sys

import vireo

node = vireo.toNode("DizuvaRuvi1")
node["keyStep"].setValue(5)
node["addAllAnalysisKeys"].execute()
node["match"].execute()
node["warp"].execute()
assert node["isWarped"].value(), "Warp stored no grids"

node["outputFormat"].fromScript("1024 512")
write = vireo.createNode("Write", name="W")
write.setInput(0, node)


def render(path):
    write["file"].setValue(path)
    write["views"].setValue("main")
    vireo.execute(write, vireo.FrameRanges([1]))


for mode in ("Unwarped", "Warped"):
    node["outputMode"].setValue(mode)
    node["outputView"].fromScript("main")
    node["blendType"].setValue("Multi-Band")
    node["expandBlend"].setValue(True)
    render("out/pano_%s.exr" % mode.lower())
    node["blendType"].setValue("Alpha")
    node["expandBlend"].setValue(False)
    os.makedirs("out/cameras_" + mode.lower(), exist_ok=True)
    for cam in node["rigViews"].toScript().strip('{}"').split():
        node["outputView"].fromScript(cam)
        render("out/cameras_%s/%s.exr" % (mode.lower(), cam))

result = subprocess.run([sys.argv[1], "footage/truth/pano.0001.exr",
                         "out/pano_unwarped.exr", "out/cameras_unwarped",
                         "out/pano_warped.exr", "out/cameras_warped"],
                        capture_output=True, text=True)
print(result.stdout + result.stderr, end="")
assert result.returncode == 0, result.returncode
rows = {}
for line in result.stdout.splitlines():
    fields = line.split()
    if fields and re.fullmatch(r"unwarped|warped|cam\d+", fields[0]):
        rows[fields[0]] = [float(v) for v in fields[1:]]
before, after = rows["unwarped"], rows["warped"]  # seen PSNR, SSIM, overlap PSNR, SSIM, misalign
assert after[2] >= before[2] + 1.5, "the overlaps gain less than 1.5 dB"
assert after[0] >= before[0], "the warped panorama is worse than the unwarped one"
assert after[4] < 0.6 * before[4], "the misalignment between cameras does not drop enough"
cameras = [k for k in rows if k.startswith("cam")]
assert len(cameras) == 4, rows
for cam in cameras:
    unwarped_psnr, warped_psnr = rows[cam][0], rows[cam][2]
    assert warped_psnr >= unwarped_psnr + 1.0, "%s alone gains less than 1 dB" % cam
print("warp alignment end to end: overlaps %.2f dB -> %.2f dB" % (before[2], after[2]))
