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


def track_range(first, last, step):
    """The tracking-range panel of the track button: the new range, or None."""
    p = vireo.Panel("Enter tracking range")
    p.addSingleLineInput("from:", first)
    p.addSingleLineInput("to:", last)
    p.addSingleLineInput("step:", step)
    if not p.show():
        return None
    try:
        return int(p.value("from:")), int(p.value("to:")), int(p.value("step:"))
    except ValueError:
        vireo.message("Invalid range values")
        return None


assert track_range(1, 100, 10) is None, "no answer queued: cancelled"
vireo.setPanelAnswers({"to:": 40, "step:": "5"})
vireo.setPanelAnswers(None)
vireo.setPanelAnswers({"from:": "abc"})
assert track_range(1, 100, 10) == (1, 40, 5)
assert track_range(1, 100, 10) is None
assert track_range(1, 100, 10) is None, "a value that is no integer"

vireo.setPanelAnswers({"form:": 3})
p = vireo.Panel("Enter tracking range")
p.addSingleLineInput("from:", 1)
raises(ValueError, ["'form:'"], p.show)  # an answer for an input the panel lacks
raises(KeyError, [], p.value, "to:")
