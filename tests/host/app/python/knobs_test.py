# SPDX-License-Identifier: Apache-2.0
# Knob values from Python: creation, reading, user edits that the knob refuses, keys.
import os
import sys
import tempfile

import vireo

sys.path.insert(0, os.path.dirname(__file__))
from expect import raises  # noqa: E402


n = vireo.createNode("TestRecorder", count=9, gain=0.25, flag=True, colour=[1, 2, 3],
                     text="two words", mode="Custom", keys="{curve 2=1 6=3}")
assert n.name() == "TestRecorder1" and n.Class() == "TestRecorder"
assert n["count"].value() == 9 and isinstance(n["count"].value(), int)
assert n["gain"].value() == 0.25
assert n["flag"].value() is True
assert n["colour"].value() == [1.0, 2.0, 3.0] and n["colour"].value(1) == 2.0
assert n["text"].value() == "two words"
assert n["mode"].value() == 7
assert n["keys"].getNumKeys() == 2 and n["keys"].isAnimated()
assert vireo.toNode("TestRecorder1") == n and vireo.toNode("Nothing") is None
assert n["count"].Class() == "Int_Knob" and n["count"].label() == "Count"
assert list(n.knobs())[:3] == ["count", "gain", "flag"]
raises(KeyError, ["'nothing'", "TestRecorder1"], lambda: n["nothing"])

# A knob the class lacks, or a value it refuses: no node is kept.
raises(KeyError, ["'speed'"], lambda: vireo.createNode("TestRecorder", speed=3))
raises(ValueError, ["'count'", "range"],
       lambda: vireo.createNode("TestRecorder", count=500))
assert [x.name() for x in vireo.allNodes()] == ["TestRecorder1"]
raises(RuntimeError, ["NoSuchClass"], vireo.createNode, "NoSuchClass")

# Refused edits name the knob and keep the value.
bad = [
    (ValueError, ["'count'", "range"], "count", 101),
    (ValueError, ["'count'", "whole"], "count", 2.5),
    (TypeError, ["'count'", "str"], "count", "7"),
    (ValueError, ["'flag'"], "flag", 2),
    (ValueError, ["'mode'", "'Beta'"], "mode", "Beta"),
    (ValueError, ["'mode'"], "mode", 3),
    (TypeError, ["'text'"], "text", 4),
    (ValueError, ["'colour'", "3 values"], "colour", [1, 2]),
    (TypeError, ["'press'", "no value"], "press", 1),
]
for kind, words, knob, value in bad:
    before = n[knob].toScript()
    raises(kind, words, n[knob].setValue, value)
    assert n[knob].toScript() == before, knob
raises(IndexError, ["'colour'", "component 3"], n["colour"].setValue, 1.0, 3)
raises(ValueError, ["'count'"], n["count"].fromScript, "{1 2}")
assert n["count"].value() == 9

# Accepted edits: one undo step each, and the node hears of them.
n["count"].setValue(12)
n["colour"].setValue(0.75, 2)
n["mode"].setValue("Alpha")
assert n["colour"].value() == [1.0, 2.0, 0.75] and n["mode"].value() == 0
assert "changed count" in n["log"].value().splitlines()
assert vireo.undo() and n["mode"].value() == 7
assert vireo.undo() and n["colour"].value(2) == 3.0
assert vireo.undo() and n["count"].value() == 9
assert vireo.redo() and n["count"].value() == 12

# Keys: an animated knob gets its edit as a key at the UI frame.
k = n["keys"]
assert [k.getKeyTime(i) for i in range(k.getNumKeys())] == [2.0, 6.0]
assert isinstance(k.getKeyTime(0), float)
assert k.setKeyAt(4) and not k.setKeyAt(4)
assert k.getNumKeys() == 3 and k.isKey(4) and not k.isKey(5)
vireo.setFrame(4)
assert vireo.frame() == 4 and k.value() == 2
k.setValue(8)
assert k.getNumKeys() == 3 and k.value() == 8
vireo.setFrame(9)
k.setValue(5)
assert [k.getKeyTime(i) for i in range(k.getNumKeys())] == [2.0, 4.0, 6.0, 9.0]
raises(IndexError, ["'keys'", "key 4"], k.getKeyTime, 4)
raises(ValueError, ["'keys'"], k.setValue, 1000.5)
assert k.getNumKeys() == 4
assert k.toScript() == "{curve 2=1 4=8 6=3 9=5}"

# Saving and opening: the script holds the values; old handles go stale.
path = os.path.join(tempfile.mkdtemp(), "saved.vireo")
vireo.scriptSave(path)
vireo.scriptOpen(path)
raises(RuntimeError, ["'TestRecorder1'", "no longer exists"], n.name)
m = vireo.toNode("TestRecorder1")
assert m["keys"].toScript() == "{curve 2=1 4=8 6=3 9=5}" and m["count"].value() == 12
assert m["text"].value() == "two words"

# A file that is not a script in UTF-8 (Latin-1, or an image opened by mistake): the error names
# the file and shows the line, its bad bytes escaped, instead of an exception without text.
latin1 = os.path.join(os.path.dirname(path), "latin1.vireo")
with open(latin1, "wb") as f:
    f.write(b"vireo 1\nnode caf\xe9 Read1\nend\n")
raises(RuntimeError, [latin1 + ":2:", "caf\\xe9"], vireo.scriptOpen, latin1)
image = os.path.join(os.path.dirname(path), "image.vireo")
with open(image, "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n")
raises(RuntimeError, [image + ":1:", "\\x89PNG"], vireo.scriptOpen, image)
assert vireo.toNode("TestRecorder1")["count"].value() == 12, "the graph is kept"
