# SPDX-License-Identifier: Apache-2.0
# Without a person: questions are no unless an answer was given; panels are cancelled unless
# an answer was queued.
import os
import sys

import vireo

sys.path.insert(0, os.path.dirname(__file__))
from expect import raises  # noqa: E402

assert vireo.ask("Proceeding will reset existing warp. Are you sure?") is False
vireo.setAskAnswer(True)
assert vireo.ask("first") is True and vireo.ask("second") is True
vireo.setAskAnswer(None)
assert vireo.ask("third") is False


def show(*inputs):
    """A panel of the inputs (label, default): their values when confirmed, else None. The
    Track button's range question is such a panel (its answers: vireo_e2e_tracking)."""
    p = vireo.Panel("Enter tracking range")
    for label, value in inputs:
        p.addSingleLineInput(label, value)
    return [p.value(label) for label, _ in inputs] if p.show() else None


RANGE = (("from:", 1), ("to:", 100), ("step:", 10))
assert show(*RANGE) is None, "no answer queued: cancelled"
# Answers queue up, one per panel shown; None cancels; an input not answered keeps its value.
vireo.setPanelAnswers({"to:": 40, "step:": "5"})
vireo.setPanelAnswers(None)
vireo.setPanelAnswers({"from:": "abc"})
assert show(*RANGE) == ["1", "40", "5"]
assert show(*RANGE) is None
assert show(*RANGE) == ["abc", "100", "10"]

vireo.setPanelAnswers({"form:": 3})
p = vireo.Panel("Enter tracking range")
p.addSingleLineInput("from:", 1)
raises(ValueError, ["'form:'"], p.show)  # an answer for an input the panel lacks
raises(KeyError, [], p.value, "to:")
