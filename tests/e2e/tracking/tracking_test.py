# SPDX-License-Identifier: Apache-2.0
# The Track button end to end on make_rig's moving target (6 cameras, 320 x 240, frames 1-5):
# the range question (refused, cancelled, answered), which constraints are tracked, the keys
# written every Step frames against the true positions, a point lost at the image border, the
# state knobs after tracking, and undo and redo.
import math

import vireo

node = vireo.toNode("DizuvaRuvi1")
constraints = node["constraints"]

# Row 0 has a point on the target's edge and a point on the static room in cam1, and a point of
# the edge in cam2 that leaves the image; row 1 is not selected; row 2 is hidden.
INITIAL = """  version 2
  total 3 visible 1
  name edge colour 1 0 0 size 3 strength 4 sampling 20 life 1 1 visible 1 selected 1
    0 1 209.837 131.372 1
    0 1 80 60 1
    1 1 24.27 124.628 1
  name other colour 0 1 0 size 1 strength 4 sampling 20 life 1 1 visible 1 selected 0
    0 1 100 100 1
  name hidden colour 0 0 1 size 1 strength 4 sampling 20 life 1 1 visible 0 selected 1
    0 1 150 150 1
"""
# The true positions of the edge point in cam1 (0.0875 m right of the edge's middle, seed 1),
# from MovingTarget::edgePoint through the rig's cameras, as track_bench computes them.
TRUTH = {3: (200.103, 131.538), 5: (190.472, 131.667)}


def rows():
    """[(name, start, end, [{frame: (x, y)} per point])] from the knob's text."""
    words = constraints.toScript().split()
    out = []
    i = words.index("visible") + 2
    while i < len(words):
        assert words[i] == "name", words[i:i + 3]
        name, size = words[i + 1], int(words[i + 7])
        start, end = int(words[i + 13]), int(words[i + 14])
        i += 19
        points = []
        for _ in range(size):
            count = int(words[i + 1])
            keys = words[i + 2:i + 2 + 3 * count]
            points.append({int(keys[k + 2]): (float(keys[k]), float(keys[k + 1]))
                           for k in range(0, len(keys), 3)})
            i += 2 + 3 * count
        out.append((name, start, end, points))
    return out


def frames(row, point):
    return sorted(rows()[row][3][point])


constraints.fromScript(INITIAL)
node.showControlPanel()
constraints.selectRows([0, 2])
before = constraints.toScript()
assert node["constraintStartFrame"].value() == node["constraintEndFrame"].value()

# Equal range knobs: the range question. A value that is no integer, and a cancel, start
# nothing.
vireo.setPanelAnswers({"from:": "1", "to:": "x", "step:": "2"})
node["trackConstraints"].execute()
assert constraints.toScript() == before
vireo.setPanelAnswers(None)
node["trackConstraints"].execute()
assert constraints.toScript() == before

# Answered: from 1 to 5 every 2 frames, written into the selected rows' lives.
vireo.setPanelAnswers({"from:": "1", "to:": "5", "step:": "2"})
node["trackConstraints"].execute()
assert node["trackingStep"].value() == 2 and node["executeType"].value() == 3
assert node["interactionMode"].value() == 0 and node["outputMode"].value() == 0
edge, other, hidden = rows()
assert edge[1:3] == (1, 5), edge[1:3]
assert frames(0, 0) == [1, 3, 5], frames(0, 0)
for f, (x, y) in TRUTH.items():
    got = edge[3][0][f]
    assert math.hypot(got[0] - x, got[1] - y) < 0.5, (f, got, (x, y))
assert all(math.hypot(x - 80, y - 60) < 0.1 for x, y in edge[3][1].values()), edge[3][1]
assert frames(0, 1) == [1, 3, 5]
# The cam2 point nears the left border and passes behind the post: lost by frame 5 at the
# latest, and right where it still has a key.
assert 5 not in edge[3][2], edge[3][2]
if 3 in edge[3][2]:
    x, y = edge[3][2][3]
    assert math.hypot(x - 14.941, y - 124.876) < 0.5, (x, y)
assert other[3] == [{1: (100.0, 100.0)}] and other[1:3] == (1, 1), other
assert hidden[3] == [{1: (150.0, 150.0)}], hidden
# One undo takes the whole Track back; redo brings it again.
tracked = constraints.toScript()
assert vireo.undo()
assert frames(0, 0) == [1], frames(0, 0)
assert vireo.redo() and constraints.toScript() == tracked

# Tracking again writes the same keys.
node["trackConstraints"].execute()
assert constraints.toScript() == tracked
print("tracking end to end: edge point at frame 5", edge[3][0][5], "truth", TRUTH[5])
