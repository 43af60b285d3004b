# SPDX-License-Identifier: Apache-2.0
# Run by track_bench inside vireo: loads a constraint, selects it, presses Track with the given
# step over the script's frame range, and writes the constraints knob, the number of frames
# tracked and the wall-clock and CPU seconds of the Track.
#   vireo SCRIPT -t track_constraint.py IN OUT STEP
import sys
import time

import vireo

source, target, step = sys.argv[1], sys.argv[2], int(sys.argv[3])
node = vireo.toNode("DizuvaRuvi1")
node["constraints"].fromScript(open(source).read())
node.showControlPanel()
node["constraints"].selectRows([0])
node["trackingStep"].setValue(step)
first, last = node.firstFrame(), node.lastFrame()
node["constraintStartFrame"].setValue(first)
node["constraintEndFrame"].setValue(last)
start, cpu = time.perf_counter(), time.process_time()
node["trackConstraints"].execute()
seconds, cpu = time.perf_counter() - start, time.process_time() - cpu
with open(target, "w") as out:
    out.write(node["constraints"].toScript())
frames = len(range(first, last + 1, step))
with open(target + ".time", "w") as out:
    out.write("%d %.6f %.6f\n" % (frames, seconds, cpu))
