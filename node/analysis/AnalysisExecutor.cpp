// SPDX-License-Identifier: Apache-2.0
#include "analysis/AnalysisExecutor.h"

#include <cmath>
#include <vector>

#include "constraints/ConstraintPoint.h"
#include "constraints/ConstraintsKnob.h"
#include "constraints/SphericalCircle.h"
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
    m_node->asapUpdate();
}

bool AnalysisExecutor::skipFrame(double frame) const {
    if (!m_knobs || !m_rig) return true;
    const int f = roundFrame(frame);
    // Tracking keeps the frames with constraint keys; no constraint exists in this build.
    if (m_knobs->executeType() == 3) return true;
    return !m_knobs->isAnalysisKey(f);
}

void AnalysisExecutor::gatherWarpConstraints(int frame, int view, WarpConstraintSink& out) const {
    if (!m_rig || !m_knobs || m_rig->numberOfCameras() == 0) return;
    const int camera = m_rig->cameraIndexOfView(view);
    if (camera < 0 || camera >= m_rig->numberOfCameras()) return;
    const ConstraintsKnob* constraints = m_knobs->constraints();
    if (!constraints) return;
    const double radius = m_knobs->convergenceDepth(true);
    const std::vector<SphericalTransform> cameras = m_rig->cameraTransforms(radius);
    // Constraint points live in host views; the rig maps them through their camera.
    auto transformOf = [&](int pointView) -> const SphericalTransform* {
        const int c = m_rig->cameraIndexOfView(pointView);
        return c >= 0 && c < int(cameras.size()) ? &cameras[size_t(c)] : nullptr;
    };
    const SphericalTransform& own = cameras[size_t(camera)];

    for (int row = 0; row < constraints->constraintCount(); ++row) {
        if (!constraints->isConstraintEnabled(row) || !constraints->isConstraintAlive(row, frame))
            continue;
        std::vector<ConstraintPoint> points;
        constraints->constraintPointsAtFrame(frame, row, points);
        if (points.empty()) continue;

        std::vector<Eigen::Vector3d> world;
        std::vector<Eigen::Vector2d> inView;
        for (const ConstraintPoint& p : points) {
            const SphericalTransform* t = transformOf(p.view);
            Eigen::Vector3d w;
            if (t && t->ProjectToWorld(Eigen::Vector2d(p.x, p.y), &w)) world.push_back(w);
            if (p.view == view) inView.emplace_back(p.x, p.y);
        }
        SphericalCircle circle(radius);
        if (inView.empty() || !circle.fit(world)) continue;

        const std::vector<Eigen::Vector2d> samples =
            densifyPoints(inView, constraints->constraintSampling(row), own);
        for (const Eigen::Vector2d& sample : samples) {
            Eigen::Vector3d w;
            Eigen::Vector2d target;
            if (!own.ProjectToWorld(sample, &w) ||
                !own.ProjectFromWorld(circle.project({w}).front(), &target))
                continue;  // a sample whose ray or target has no image cannot pull the warp
            WarpConstraint c;
            c.x = target.x();
            c.y = target.y();
            c.score = constraints->constraintStrength(row);
            c.dx = sample.x() - target.x();
            c.dy = sample.y() - target.y();
            out.addWarpConstraint(frame, c);
        }
    }
}

}  // namespace Research
}  // namespace Korvane
