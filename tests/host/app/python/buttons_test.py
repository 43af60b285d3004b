# SPDX-License-Identifier: Apache-2.0
# Python-script buttons: thisNode() is the button's node, a failing script leaves the node
# as it was, nested presses take back only their own writes.
import os
import sys

import vireo

sys.path.insert(0, os.path.dirname(__file__))
from expect import raises  # noqa: E402

n = vireo.createNode("TestRecorder")
other = vireo.createNode("TestRecorder")

raises(RuntimeError, [], vireo.thisNode)  # outside a button script

n["setCount"].execute()
assert n["count"].value() == 7 and other["count"].value() == 5
assert "changed setCount" in n["log"].value().splitlines(), "the press reaches knob_changed"
assert vireo.undo() and n["count"].value() == 5, "a press is one undo step"


def state(node):
    return {k: node[k].toScript() for k in ("count", "gain", "flag", "keys")}


before = state(n)
n["log"].setValue("")
raises(RuntimeError, ["failAfterEdit", n.name()], n["failAfterEdit"].execute)
assert state(n) == before
assert "changed failAfterEdit" not in n["log"].value().splitlines()

# The inner press fails and is taken back; the outer script goes on and keeps its writes.
n["nested"].execute()
assert n["gain"].value() == 2.0 and n["flag"].value() is True
assert n["keys"].getNumKeys() == 0
assert vireo.undo() and state(n) == before

# The export module is not the host's: Python's own error.
raises(ModuleNotFoundError, ["'DizuvaRuviExport2_1'"], __import__, "DizuvaRuviExport2_1")
raises(RuntimeError, [], n["export"].execute)
