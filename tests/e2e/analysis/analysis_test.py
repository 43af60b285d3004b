# SPDX-License-Identifier: Apache-2.0
# The analysis buttons end to end on a small generated rig (4 cameras, 320 x 240, frames 1-3):
# Key All, Match, Warp, Reset and undo, with the state knobs and the stores checked after each,
# and every question answered both ways.
import sys

import vireo

node = vireo.toNode("DizuvaRuvi1")


def keys():
    k = node["analysisKeyframe"]
    return [int(k.getKeyTime(i)) for i in range(k.getNumKeys())]


def stores():
    return node["controlPoints"].toScript(), node["gridMap"].toScript()


def match_counts():
    text = node["controlPoints"].toScript().split()
    return {int(text[i + 1]): int(text[i + 3]) for i, w in enumerate(text) if w == "Frame"}


def frames_with_matches():
    return sorted(f for f, count in match_counts().items() if count)


# Key All every frame: keys strictly below the last frame of the input range.
node["keyStep"].setValue(1)
node["addAllAnalysisKeys"].execute()
assert keys() == [1, 2], keys()
assert not node["isMatched"].value() and not node["isWarped"].value()

# Match: every key gets matches, the state knobs follow. "Auto" convergence takes the rig's
# depth (make_rig's rig.json says 5 m) though no panel was ever opened.
assert node["autoConvergenceDepth"].value()
node["match"].execute()
assert node["convergenceDepth"].value() == 5.0, node["convergenceDepth"].value()
assert frames_with_matches() == [1, 2], node["controlPoints"].toScript()[:200]
assert node["isMatched"].value()
assert 0.0 < node["matchError"].value() < 5.0, node["matchError"].value()
assert not node["matchNew"].enabled()
assert node["interactionMode"].value() == 1

# Match again, answered no: nothing changes.
matched = stores()
vireo.setAskAnswer(False)
node["match"].execute()
assert stores() == matched

# Warp: a grid per camera and key.
vireo.setAskAnswer(None)
node["warp"].execute()
assert node["isWarped"].value() and node["reset"].enabled()
grids = node["gridMap"].toScript().split()
assert grids[:4] == ["version", "1", "total", "8"], grids[:4]  # 4 cameras x 2 keys
# The depth the grids were solved at comes next, then the grids.
assert grids[4:6] == ["depth", "%g" % node["convergenceDepth"].value()], grids[4:6]
assert any(float(v) != 0.0 for v in grids[6:] if v not in ("frame", "camera")), "no warp"
warped = stores()
assert warped[0] == matched[0], "the warp leaves the matches alone"
# The warped script, for run.cmake to measure the ghosting on the scene's own points (which
# the solve never saw) with warp_quality.
vireo.scriptSave(sys.argv[1])

# Warp again, answered no: nothing changes.
vireo.setAskAnswer(False)
node["warp"].execute()
assert stores() == warped

# Reset, answered yes, clears the warp and keeps the matches; one undo brings it back.
vireo.setAskAnswer(True)
node["reset"].execute()
assert not node["isWarped"].value() and not node["reset"].enabled()
assert stores()[0] == matched[0] and stores()[1] != warped[1]
assert vireo.undo()
assert stores() == warped and node["isWarped"].value()

# Delete All, answered yes, drops keys and matches but not the warp; undo restores them.
node["deleteAllAnalysisKeys"].execute()
assert keys() == [] and not node["isMatched"].value() and node["matchError"].value() == 0
assert stores()[1] == warped[1]
assert vireo.undo()
assert keys() == [1, 2] and node["isMatched"].value() and stores() == warped

# Match New: keys that hold matches keep them (their points are only refined again); a new
# key is matched alone.
counts = match_counts()
node["analysisKeyframe"].setKeyAt(3)
node["matchNew"].execute()
after = match_counts()
assert all(after[f] == counts[f] for f in counts) and after.get(3, 0) > 0, (counts, after)

# Match on a node without keys keys the current frame, limited to the node's range, and
# matches only that frame.
vireo.setAskAnswer(True)
node["deleteAllAnalysisKeys"].execute()
vireo.setFrame(9)
node["match"].execute()
assert keys() == [3], keys()
assert frames_with_matches() == [3], match_counts()
vireo.setAskAnswer(None)
print("analysis end to end: keys", keys(), "match error %.3f" % node["matchError"].value())
