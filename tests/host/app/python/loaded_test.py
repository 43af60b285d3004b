# SPDX-License-Identifier: Apache-2.0
# Run as: vireo graph.vireo --yes --no -t loaded_test.py first second
import sys

import vireo

assert sys.argv[1:] == ["first", "second"], sys.argv
n = vireo.toNode("Analysis")
assert n is not None and n["count"].value() == 11
assert vireo.frame() == 3, "the UI frame starts at the script's first frame"
assert (n.firstFrame(), n.lastFrame()) == (1, 10)
assert [vireo.ask("one"), vireo.ask("two"), vireo.ask("three")] == [True, False, False]
