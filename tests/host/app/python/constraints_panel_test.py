# SPDX-License-Identifier: Apache-2.0
# The constraints list of V_DizuvaRuvi worked through its panel, as a user would, without a
# display: rows are selected, then merged, toggled and deleted from the panel's menu.
import os
import sys

import vireo

sys.path.insert(0, os.path.dirname(__file__))
from expect import raises  # noqa: E402

node = vireo.createNode("V_DizuvaRuvi")
lines = node["constraints"]


def headers():
    """The header line of every constraint in the saved text, as lists of words."""
    return [l.split() for l in lines.toScript().splitlines() if l.startswith("  name ")]


raises(RuntimeError, ["showControlPanel"], lines.selectedRows)  # the panel is closed

node.showControlPanel()
for frame in (3, 7):
    vireo.setFrame(frame)
    lines.panelAction("Add")
assert [h[1] for h in headers()] == ["constraint_0", "constraint_1"]
assert lines.selectedRows() == [1], "a new row is the only selection"
assert headers()[1][headers()[1].index("life") + 1] == "7"

# Five constraints, each with one track in view (row mod 2) + 1, life [10 r, 10 r + 5].
text = "version 2\ntotal 5 visible 1\n"
for r in range(5):
    text += ("name line_%d colour 1 0 0 size 1 strength 4 sampling 20 life %d %d visible 1 "
             "selected 0\n%d 1 %d %d %d\n" % (r, 10 * r, 10 * r + 5, r % 2, r, r, 10 * r))
lines.fromScript(text)
assert lines.selectedRows() == [1], "the selection survives a load by row"

lines.selectRows([1, 3, 4])
assert lines.selectedRows() == [1, 3, 4]
lines.panelAction("Merge")
assert [x[1] for x in headers()] == ["line_0", "line_1", "line_2"], headers()
assert vireo.undo() and len(headers()) == 5, "a merge is one undo step"
assert vireo.redo() and len(headers()) == 3

lines.selectRows([0, 2])
lines.panelAction("Toggle")
assert [x[x.index("visible") + 1] for x in headers()] == ["0", "1", "0"]

lines.selectRows([0])
lines.panelAction("Delete")
assert [x[1] for x in headers()] == ["line_1", "line_2"]

lines.panelAction("Delete All")  # no answer given: the question is answered no
assert len(headers()) == 2
vireo.setAskAnswer(True)
lines.panelAction("Delete All")
vireo.setAskAnswer(None)
assert headers() == []

raises(IndexError, [], lines.selectRows, [0])  # a row past the end
raises(KeyError, [], lines.panelAction, "Explode")
raises(TypeError, [], node["convergenceDepth"].selectRows, [0])  # a knob without a list

node.hideControlPanel()
node.hideControlPanel()
raises(RuntimeError, [], lines.panelAction, "Add")  # the panel is closed again
print("constraints panel: ok")
