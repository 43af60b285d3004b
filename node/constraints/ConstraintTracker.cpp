// SPDX-License-Identifier: Apache-2.0
#include "constraints/ConstraintTracker.h"

#include <cmath>

#include "analysis/AnalysisExecutor.h"
#include "constraints/ConstraintsKnob.h"
#include "external/RigLibrary.h"
#include "plugin/KnobManager.h"
#include "plugin/RigContext.h"
#include "px/image/Iop.h"
#include "px/image/Op.h"

namespace Korvane {
namespace Research {

using SLIB::Context;
using SLIB::FeatureTracking::SequentialTrackingStage;
using SLIB::FeatureTracking::TrackedFeature;
using SLIB::FeatureTracking::TrackedFeatureTrack;
using SLIB::FeatureTracking::TrackingImage;

ConstraintTracker::ConstraintTracker(PX::Image::Op* node, RigContext* rig, KnobManager* knobs)
    : m_node(node), m_rig(rig), m_knobs(knobs) {}

ConstraintTracker::~ConstraintTracker() = default;

void ConstraintTracker::start(const PX::Image::Format& format) {
    m_rows.clear();
    m_images.clear();
    m_latlong.clear();
    m_tracker.releaseCache();
    m_format = format;
    if (const ConstraintsKnob* constraints = m_knobs ? m_knobs->constraints() : nullptr)
        constraints->collectRows(true, true, m_rows);

    // Under a proxy the fetched images are smaller than the format; both images of a call
    // must still agree.
    if (m_node->uiContext().isProxy())
        m_tracker.setImageFormat(SLIB::ImageFormat());
    else
        m_tracker.setImageFormat(
            SLIB::ImageFormat(format.width(), format.height(), format.pixel_aspect(), 1.0));
    m_tracker.setPatchSize(m_knobs ? m_knobs->trackingPatchSize() : 0);
    m_tracker.setMaxNewFeatures(0);
    m_tracker.setDetection(false);
    m_tracker.sequentialStage().setAcceptance(SequentialTrackingStage::acceptanceForThreshold(
        m_knobs ? m_knobs->trackingThreshold() : 0.0));

    // A latlong rig holds each camera's footage in the panorama; its points stay in the pixels
    // of the fisheye behind it (as camera matches do), and are followed in the panorama.
    if (!m_rig || m_rig->numberOfCameras() == 0 || format.width() <= 0) return;
    m_rig->reloadRig(true);
    const CameraRigDefinition& rig = m_rig->rig();
    if (rig.getNumberCameras() == 0 ||
        rig.getCamera(0).getProjection() != ProjectionTypeEnum::Latlong)
        return;
    const double depth = m_knobs->convergenceDepth();
    for (int c = 0; c < rig.getNumberCameras(); ++c) {
        CameraDefinition camera = rig.getCamera(c);
        camera.setProjection(ProjectionTypeEnum::Fisheye);
        SphericalTransform transform(camera);
        transform.setOutputImageSize(format.width(), format.height());
        if (std::isfinite(depth) && depth > 0.0) transform.setConvergenceDepth(depth);
        const int view = m_rig->viewOfCamera(c);
        if (view >= 0) m_latlong.emplace(view, transform);
    }
}

bool ConstraintTracker::isDue(int row, int frame, int step) const {
    const ConstraintsKnob* constraints = m_knobs->constraints();
    if (!constraints || !constraints->isConstraintAlive(row, frame)) return false;
    return (frame - constraints->constraintStart(row)) % step == 0;
}

bool ConstraintTracker::wantsFrame(int frame) const {
    const ConstraintsKnob* constraints = m_knobs ? m_knobs->constraints() : nullptr;
    const int step = m_knobs ? m_knobs->trackingStep() : 0;
    if (!constraints || step < 1) return false;
    for (int row : m_rows) {
        if (!isDue(row, frame, step)) continue;
        const std::set<int> keys = constraints->keyFrames(row);
        if (keys.count(frame) || keys.count(frame - step)) return true;
    }
    return false;
}

const SphericalTransform* ConstraintTracker::latlongCamera(int view) const {
    auto it = m_latlong.find(view);
    return it == m_latlong.end() ? nullptr : &it->second;
}

bool ConstraintTracker::toImage(int view, double* x, double* y) const {
    if (const SphericalTransform* camera = latlongCamera(view)) {
        Eigen::Vector2d ideal;
        if (!camera->ProjectToIdeal({*x, *y}, ProjectionTypeEnum::Latlong, &ideal)) return false;
        *x = ideal.x();
        *y = ideal.y();
    }
    const PX::Image::OutputContext& ui = m_node->uiContext();
    *x = *x * ui.scale_x() + ui.offset_x();
    *y = *y * ui.scale_y() + ui.offset_y();
    return true;
}

bool ConstraintTracker::fromImage(int view, double* x, double* y) const {
    const PX::Image::OutputContext& ui = m_node->uiContext();
    *x = (*x - ui.offset_x()) / ui.scale_x();
    *y = (*y - ui.offset_y()) / ui.scale_y();
    if (const SphericalTransform* camera = latlongCamera(view)) {
        Eigen::Vector2d image;
        if (!camera->ProjectFromIdeal({*x, *y}, ProjectionTypeEnum::Latlong, &image)) return false;
        *x = image.x();
        *y = image.y();
    }
    return std::isfinite(*x) && std::isfinite(*y);
}

bool ConstraintTracker::cacheImage(int frame, int view) {
    const Context context(frame, view);
    if (m_images.count(context)) return true;
    auto* iop = dynamic_cast<PX::Image::Iop*>(m_node);
    const int input = m_rig ? m_rig->inputIndexOfView(view) : -1;
    const int camera = m_rig ? m_rig->cameraIndexOfView(view) : -1;
    if (!iop || input < 0 || input >= iop->inputs() || !iop->input(input) || camera < 0 ||
        camera >= m_rig->numberOfCameras())
        return false;
    // The camera's own image: its crop window where it shares its input with other cameras.
    std::vector<int> inputs(size_t(m_rig->numberOfCameras()), -1);
    inputs[size_t(camera)] = input;
    const std::unique_ptr<FeatureImageSource> files = MakeOpImageSource(m_node);
    CameraWindowSource cameras(*files, m_rig->rig(), inputs);
    FeatureImage image;
    if (!cameras.getImage(camera, frame, &image)) {
        m_node->error("Cannot read view %d at frame %d!", view, frame);
        return false;
    }
    TrackingImage& cached = m_images[context];
    cached.width = image.width;
    cached.height = image.height;
    cached.pixels = std::move(image.pixels);
    return true;
}

bool ConstraintTracker::trackFrame() {
    ConstraintsKnob* constraints = m_knobs ? m_knobs->constraints() : nullptr;
    const int f = AnalysisExecutor::roundFrame(m_node->uiContext().frame());
    const int step = m_knobs ? m_knobs->trackingStep(true) : 0;
    if (step < 1 || m_rows.empty() || !constraints) return false;
    if (m_tracker.patchSize() < SLIB::FeatureTracking::FeatureTracker::kMinPatchSize) {
        m_node->error("Patch Size %d is too small to track: it must be at least %d.",
                      m_tracker.patchSize(),
                      SLIB::FeatureTracking::FeatureTracker::kMinPatchSize);
        return false;
    }

    // The due rows and the views their points lie in.
    std::vector<int> due;
    std::set<int> views;
    for (int row : m_rows) {
        if (!isDue(row, f, step)) continue;
        due.push_back(row);
        if (const ConstraintTrackSet* set = constraints->trackSet(row))
            for (const auto& [view, tracks] : set->views())
                if (!tracks.empty()) views.insert(view);
    }
    for (int view : views)
        if (!cacheImage(f, view)) return false;

    // Every point of a due row with a key at the previous step frame starts a tracker track.
    const int p = f - step;
    std::map<int, std::vector<TrackedFeatureTrack>> tracks;
    std::map<int, std::vector<Tag>> tags;
    for (int row : due) {
        const ConstraintTrackSet* set = constraints->trackSet(row);
        if (constraints->constraintStart(row) == f || !set) continue;
        for (int k = 0; k < set->size(); ++k) {
            int view = 0;
            const PointTrack* point = set->point(k, &view);
            const SLIB::Feature* key = point ? point->find(Context(p, view)) : nullptr;
            if (!key) continue;
            double x = key->x, y = key->y;
            if (!toImage(view, &x, &y)) continue;
            tracks[view].emplace_back();
            tracks[view].back().setKey(Context(p, view), TrackedFeature(x, y, 1.0, 0.0));
            tags[view].push_back({row, k});
        }
    }
    if (tracks.empty()) return true;

    std::unique_ptr<ProgressReporter> progress = CreateProgressReporter(m_node);
    constraints->add_to_undo();
    for (auto& [view, list] : tracks) {
        if (progress->isInterrupted()) {
            constraints->stop_add_to_undo();
            return false;
        }
        auto before = m_images.find(Context(p, view));
        auto after = m_images.find(Context(f, view));
        if (before == m_images.end() || after == m_images.end()) {
            constraints->stop_add_to_undo();
            return false;
        }
        if (!m_tracker.track(
                Context(p, view), before->second, Context(f, view), after->second, list)) {
            m_node->error("Tracking failure for view %d at frame %d!", view, f);
            constraints->stop_add_to_undo();
            return false;
        }
        const std::vector<Tag>& tagOf = tags[view];
        for (size_t i = 0; i < list.size(); ++i) {
            const TrackedFeature* found = list[i].find(Context(f, view));
            if (!found) continue;  // lost: no key, so not followed at the next step frame
            double x = found->x, y = found->y;
            if (!fromImage(view, &x, &y)) continue;
            if (x < 0.0 || y < 0.0 || x > m_format.width() || y > m_format.height()) continue;
            constraints->setKey(f, tagOf[i].row, tagOf[i].k, x, y);
        }
    }
    constraints->stop_add_to_undo();

    // No later frame f' > f needs an image at or before f - step (its previous frame is f' - step).
    for (auto it = m_images.begin(); it != m_images.end();)
        it = it->first.frame <= p ? m_images.erase(it) : std::next(it);
    return true;
}

}  // namespace Research
}  // namespace Korvane
