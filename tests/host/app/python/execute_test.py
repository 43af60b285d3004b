# SPDX-License-Identifier: Apache-2.0
# Executions from Python: exactly the frames asked for, in order, through the frame filter.
import os
import sys

import vireo

sys.path.insert(0, os.path.dirname(__file__))
from expect import raises  # noqa: E402


def events(node):
    lines = node["log"].value().splitlines()
    node["log"].setValue("")
    return [l for l in lines if not l.startswith("changed")]


assert vireo.FrameRanges(3, 9, 3).toFrameList() == [3, 6, 9]
assert list(vireo.FrameRanges([5, 1, 3])) == [5, 1, 3] and len(vireo.FrameRanges(1, 4)) == 4
raises(ValueError, [], vireo.FrameRanges, 5, 1)
raises(ValueError, [], vireo.FrameRanges, 1, 5, 0)

n = vireo.createNode("TestRecorder", count=3, skip=4, first=2, last=30)
assert (n.firstFrame(), n.lastFrame()) == (2, 30)

# Sorted, duplicates dropped, frame 4 filtered out; the knobs are read per frame.
n["count"].fromScript("{curve 1=1 9=9}")
assert vireo.execute(n, vireo.FrameRanges([6, 2, 4, 2, 9])) is True
assert events(n) == ["begin", "execute 2 count 2", "execute 6 count 6", "execute 9 count 9",
                     "end"]
assert vireo.execute(n, 3, 5) is True
assert events(n) == ["begin", "execute 3 count 3", "execute 5 count 5", "end"]
assert vireo.frame() == 1, "an execution leaves the UI frame as it was"

# A node error stops nothing but is raised naming the node; the end step still runs.
n["failAt"].setValue(3)
raises(RuntimeError, ["TestRecorder1", "cannot run frame 3"], vireo.execute, n, 2, 4)
assert events(n)[-1] == "end"

# A node that cannot be executed.
vireo.createNode("Read")
raises(ValueError, ["Read1"], vireo.execute, vireo.toNode("Read1"), 1, 1)

# The key-execution tail of an analysis button: without keys, one key at the UI frame
# limited to the node's range, and exactly that frame runs.
n["failAt"].setValue(-1000)
vireo.setFrame(50)
n["keyTail"].execute()
assert n["keys"].getNumKeys() == 1 and n["keys"].getKeyTime(0) == 30.0
assert [e for e in events(n) if e.startswith("execute")] == ["execute 30 count 9"]
n["keys"].setKeyAt(12)
n["keyTail"].execute()
assert [e for e in events(n) if e.startswith("execute")] == ["execute 12 count 9",
                                                             "execute 30 count 9"]

# Inputs.
src = vireo.createNode("TestRecorder", "Source")
n.setInput(0, src)
assert n.input(0) == src and n.input(0).name() == "Source" and src.input(0) is None
n.setInput(0, None)
assert n.input(0) is None
raises(IndexError, [], n.setInput, 2, src)
