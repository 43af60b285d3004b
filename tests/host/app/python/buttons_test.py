# SPDX-License-Identifier: Apache-2.0
# Python-script buttons: thisNode() is the button's node, a failing script leaves the node
# as it was, nested presses take back only their own writes.
import vireo

n = vireo.createNode("PyTestOp")
other = vireo.createNode("PyTestOp")

try:
    vireo.thisNode()
    raise AssertionError("thisNode() answered outside a button script")
except RuntimeError:
    pass

n["setCount"].execute()
assert n["count"].value() == 7 and other["count"].value() == 5
assert "changed setCount" in n["log"].value().splitlines(), "the press reaches knob_changed"
assert vireo.undo() and n["count"].value() == 5, "a press is one undo step"


def state(node):
    return {k: node[k].toScript() for k in ("count", "gain", "flag", "keys")}


before = state(n)
n["log"].setValue("")
try:
    n["failAfterEdit"].execute()
    raise AssertionError("a failing button script did not raise")
except RuntimeError as e:
    assert "failAfterEdit" in str(e) and n.name() in str(e), e
assert state(n) == before
assert "changed failAfterEdit" not in n["log"].value().splitlines()

# The inner press fails and is taken back; the outer script goes on and keeps its writes.
n["nested"].execute()
assert n["gain"].value() == 2.0 and n["flag"].value() is True
assert n["keys"].getNumKeys() == 0
assert vireo.undo() and state(n) == before

# The export module is not the host's: Python's own error.
try:
    import DizuvaRuviExport2_1  # noqa: F401
    raise AssertionError("DizuvaRuviExport2_1 imported")
except ModuleNotFoundError as e:
    assert e.name == "DizuvaRuviExport2_1"
try:
    n["export"].execute()
    raise AssertionError("the export button succeeded")
except RuntimeError:
    pass
