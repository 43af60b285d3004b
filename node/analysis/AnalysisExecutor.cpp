// SPDX-License-Identifier: Apache-2.0
#include "analysis/AnalysisExecutor.h"

#include <algorithm>
#include <cmath>

#include "analysis/ControlPointsKnob.h"
#include "constraints/TriangulationLeastSquaresFunction.h"
#include "plugin/KnobManager.h"
#include "plugin/RigContext.h"
#include "px/image/Iop.h"
#include "px/image/Op.h"
#include "vellacam/TrackFeatures.h"
#include "vellacam/TriangulateFeatures.h"

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
            matchFrame();
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
    if (m_knobs && (m_knobs->executeType() == 0 || m_knobs->executeType() == 1)) finishMatching();
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

namespace {

/// Moves every feature from panorama pixels (an equirectangular image of `panorama`'s size, seen
/// from the rig centre) into its camera's pixels: the panorama position's point on the sphere of
/// `depth` metres, as camera c sees it. An observation that camera c cannot see is dropped, and
/// a match left with fewer than two observations.
void panoramaToCameras(const CameraRigDefinition& rig,
                       int panoramaWidth,
                       int panoramaHeight,
                       double depth,
                       CameraTrack& track) {
    CameraDefinition latlong;
    latlong.setFormat(panoramaWidth, panoramaHeight);
    latlong.setProjection(ProjectionTypeEnum::Latlong);
    SphericalTransform panorama(latlong);
    if (std::isfinite(depth) && depth > 0.0) panorama.setConvergenceDepth(depth);
    std::vector<SphericalTransform> cameras;
    for (int c = 0; c < rig.getNumberCameras(); ++c) cameras.emplace_back(rig.getCamera(c));
    std::vector<FeatureTrack>& matches = track.getTracks();
    for (FeatureTrack& match : matches) {
        auto& features = match.getFeatures();
        features.erase(
            std::remove_if(features.begin(),
                           features.end(),
                           [&](FeatureTrack::Observation& o) {
                               Eigen::Vector3d world;
                               Eigen::Vector2d image;
                               if (o.first < 0 || o.first >= int(cameras.size()) ||
                                   !panorama.ProjectToWorld(o.second.getPosition(), &world) ||
                                   !cameras[size_t(o.first)].ProjectFromWorld(world, &image))
                                   return true;
                               o.second.setPosition(image);
                               return false;
                           }),
            features.end());
    }
    matches.erase(std::remove_if(matches.begin(),
                                 matches.end(),
                                 [](const FeatureTrack& m) { return m.getFeatures().size() < 2; }),
                  matches.end());
}

}  // namespace

bool AnalysisExecutor::matchFrame() {
    ControlPointsKnob* store = m_knobs ? m_knobs->controlPoints() : nullptr;
    if (!m_rig || !store) return false;
    const int frame = roundFrame(m_node->uiContext().frame());
    store->add_to_undo();
    CameraTrack& record = store->cameraTrackAt(frame);
    const int type = m_knobs->executeType();
    if (type != 0 && (type != 1 || !record.getTracks().empty())) {
        store->stop_add_to_undo();
        return true;
    }

    m_rig->reloadRig(true);
    const CameraRigDefinition& live = m_rig->rig();
    // A rig whose cameras are latlong carries each camera's footage projected into the
    // panorama; the cameras behind it are matched as the fisheyes they were shot with.
    const bool latlong = live.getNumberCameras() > 0 &&
                         live.getCamera(0).getProjection() == ProjectionTypeEnum::Latlong;
    CameraRigDefinition rig = live;
    const std::vector<int> views = m_rig->multiViewManager()->cameraViews();
    if (rig.getNumberCameras() != int(views.size())) {
        store->stop_add_to_undo();
        return false;
    }
    if (latlong)
        for (int c = 0; c < rig.getNumberCameras(); ++c)
            rig.getCamera(c).setProjection(ProjectionTypeEnum::Fisheye);
    // The input of each rig camera; -1 where no camera view carries it (left out of matching).
    std::vector<int> inputs;
    for (int c = 0; c < rig.getNumberCameras(); ++c) {
        const int view = m_rig->viewOfCamera(c);
        inputs.push_back(view >= 0 ? m_rig->inputIndexOfView(view) : -1);
    }

    // Matches are found into a record of their own, so that a cancel leaves the store as it was.
    CameraTrack found(frame);
    if (!TrackFeatures(m_node,
                       found,
                       rig,
                       latlong ? MatchTypeEnum::Latlong : MatchTypeEnum::Camera,
                       !latlong,
                       frame,
                       inputs)) {
        store->stop_add_to_undo();
        return false;
    }
    const double depth = m_knobs->convergenceDepth();
    const PX::Image::Format format = inputFormat(inputs);
    if (latlong) {
        if (format.width() > 0 && format.height() > 0)
            panoramaToCameras(rig, format.width(), format.height(), depth, found);
        else
            found.getTracks().clear();
    }
    TriangulateFeatures(found, rig, true);
    std::vector<SphericalTransform> transforms;
    for (int c = 0; c < rig.getNumberCameras(); ++c) {
        transforms.emplace_back(rig.getCamera(c));
        if (std::isfinite(depth) && depth > 0.0) transforms.back().setConvergenceDepth(depth);
    }
    const int width = format.width() > 0 ? format.width() : rig.getCamera(0).getFormatWidth();
    const TriangulationContext context(std::move(transforms), width);
    for (FeatureTrack& match : found.getTracks()) triangulateMatch(context, match);

    record.getTracks() = std::move(found.getTracks());
    store->stop_add_to_undo();
    store->changed();
    return true;
}

double AnalysisExecutor::matchError(const ControlPointsKnob& store) {
    const std::vector<int> frames = store.frames();
    if (frames.empty()) return 0.0;
    double sum = 0.0;
    for (int f : frames) {
        const std::vector<FeatureTrack>& matches = store.findCameraTrack(f)->getTracks();
        if (matches.empty()) continue;
        double record = 0.0;
        for (const FeatureTrack& m : matches) record += m.getPoint().getRMSE();
        sum += record / double(matches.size());
    }
    return sum / double(frames.size());
}

void AnalysisExecutor::finishMatching() {
    ControlPointsKnob* store = m_knobs->controlPoints();
    if (!store) return;
    store->changed();
    bool matched = false;
    for (int f : store->frames())
        matched = matched || !store->findCameraTrack(f)->getTracks().empty();
    m_knobs->setIsMatched(matched);
    m_knobs->setMatchError(float(matchError(*store)));
}

PX::Image::Format AnalysisExecutor::inputFormat(const std::vector<int>& inputs) const {
    // The source in the node's own view may hold no image (a multi-view file pattern has
    // none for "main"), so the first camera view that validates stands for it.
    auto* iop = dynamic_cast<PX::Image::Iop*>(m_node);
    for (int k : inputs) {
        PX::Image::Iop* in = iop && k >= 0 ? iop->validateInput(k) : nullptr;
        if (in && in->valid() && in->info().full_size_format().width() > 0)
            return in->info().full_size_format();
    }
    return PX::Image::Format();
}

void AnalysisExecutor::gatherWarpConstraints(int, int, WarpConstraintSink&) const {
    // The node holds no line constraints yet, so there is nothing to hand to the solver.
}

}  // namespace Research
}  // namespace Korvane
