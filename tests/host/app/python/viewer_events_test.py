# SPDX-License-Identifier: Apache-2.0
# A viewer drag on V_DizuvaRuvi scripted from Python, event by event as a viewer delivers them:
# Ctrl+Alt and the left button turn the panorama view, the right button zooms, Ctrl+Tab toggles
# the projection, and each drag is one undo step. The rotation itself is checked in C++.
import math
import os
import sys

import vireo

sys.path.insert(0, os.path.dirname(__file__))
from expect import raises  # noqa: E402

node = vireo.createNode("V_DizuvaRuvi")
W, H = 2048, 1024
size = dict(viewport=(W, H), view="main")

# Ctrl without Alt belongs to someone else.
assert not node.viewerEvent("push", 100, 100, button=1, ctrl=True, **size)
assert not node.viewerEvent("drag", 300, 100, button=1, ctrl=True, **size)
assert node["mouseRotate"].toScript() == "{1 0 0 0}"


# A level drag turns about the vertical axis by the longitude it crosses.
keys = dict(ctrl=True, alt=True, **size)
assert node.viewerEvent("push", 1000, 500, button=1, **keys)
assert node.viewerEvent("drag", 1200, 500, button=1, **keys)
assert node.viewerEvent("release", 1200, 500, button=1, **keys)
q = [float(v) for v in node["mouseRotate"].toScript().strip("{}").split()]
half = -200 * math.pi / W
expected = (math.cos(half), 0, math.sin(half), 0)
assert all(abs(a - b) < 1e-6 for a, b in zip(q, expected)), (q, expected)

vireo.undo()
assert node["mouseRotate"].toScript() == "{1 0 0 0}", "one undo takes the whole drag back"
vireo.redo()

# A zoom drag of 1000 px to the right halves the view angle: zoom 1.
assert node.viewerEvent("push", 0, 0, button=3, **keys)
assert node.viewerEvent("drag", 400, 10, button=3, **keys)
assert node.viewerEvent("release", 1000, 0, button=3, **keys)
assert float(node["mouseZoom"].toScript()) == 1.0, node["mouseZoom"].toScript()

# Ctrl+Tab toggles the rectilinear view, in any view.
assert node.viewerEvent("key", key="tab", ctrl=True, viewport=(W, H))
assert node["rectilinearProjection"].value() is True
assert node["projectionType"].value() == 0

raises(ValueError, [], node.viewerEvent, "wiggle", viewport=(W, H))
raises(KeyError, [], node.viewerEvent, "push", view="nowhere", viewport=(W, H))
raises(ValueError, [], node.viewerEvent, "key", key="hyper", viewport=(W, H))
raises(ValueError, ["viewport=(0, 5)", "at least 1"], node.viewerEvent, "push", viewport=(0, 5))
print("viewer events: ok")
