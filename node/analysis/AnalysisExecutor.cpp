// SPDX-License-Identifier: Apache-2.0
#include "analysis/AnalysisExecutor.h"

#include <cmath>

#include "plugin/KnobManager.h"
#include "plugin/RigContext.h"
#include "px/image/Op.h"

namespace Korvane {
namespace Research {

void AnalysisExecutor::attach(RigContext* rig, KnobManager* knobs) {
    m_rig = rig;
    m_knobs = knobs;
}

int AnalysisExecutor::roundFrame(double frame) {
    return int(std::round(frame));  // std::round takes halves away from zero
}

void AnalysisExecutor::begin(ComputeContext device, ComputeContext cpu) {
    m_device = std::move(device);
    m_cpu = std::move(cpu);
    m_executing = true;
    if (!m_knobs) return;
    const int type = m_knobs->executeType();
    if (type >= 0 && type <= 2) m_knobs->actions().beforeAnalysis();
}

void AnalysisExecutor::execute(double frame) {
    const int type = m_knobs ? m_knobs->executeType() : -1;
    switch (type) {
        case 0:
        case 1:
            m_node->error("Camera matching at frame %d is not available in this build.",
                          roundFrame(frame));
            return;
        case 2:
            m_node->error("The warp solve at frame %d is not available in this build.",
                          roundFrame(frame));
            return;
        case 3:
            m_node->error("Constraint tracking at frame %d is not available in this build.",
                          roundFrame(frame));
            return;
        default:
            m_node->error("Invalid execute type %d.", type);
    }
}

void AnalysisExecutor::end() {
    m_executing = false;
    m_device.reset();
    m_cpu.reset();
    if (m_knobs)
        m_knobs->actions().afterExecution(m_knobs->executeType());
    else
        m_node->asapUpdate();
}

bool AnalysisExecutor::skipFrame(double frame) const {
    if (!m_knobs || !m_rig) return true;
    const int f = roundFrame(frame);
    // Tracking keeps the frames with constraint keys; no constraint exists in this build.
    if (m_knobs->executeType() == 3) return true;
    return !m_knobs->isAnalysisKey(f);
}

void AnalysisExecutor::gatherWarpConstraints(int, int, WarpConstraintSink&) const {
    // The node holds no line constraints yet, so there is nothing to hand to the solver.
}

}  // namespace Research
}  // namespace Korvane
