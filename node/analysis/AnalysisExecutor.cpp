// SPDX-License-Identifier: Apache-2.0
#include "analysis/AnalysisExecutor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "analysis/ControlPointsKnob.h"
#include "analysis/GridMapKnob.h"
#include "analysis/GridWarpSolver.h"
#include "constraints/ConstraintPoint.h"
#include "constraints/ConstraintTracker.h"
#include "constraints/ConstraintsKnob.h"
#include "constraints/SphericalCircle.h"
#include "constraints/TriangulationLeastSquaresFunction.h"
#include "external/RigLibrary.h"
#include "kiln/WorkerPool.h"
#include "plugin/KnobManager.h"
#include "plugin/RigContext.h"
#include "px/image/Iop.h"
#include "px/image/Node.h"
#include "px/image/Op.h"

namespace Korvane {
namespace Research {

AnalysisExecutor::AnalysisExecutor(PX::Image::Op* node) : m_node(node) {}
AnalysisExecutor::~AnalysisExecutor() = default;
AnalysisExecutor::AnalysisExecutor(AnalysisExecutor&&) noexcept = default;
AnalysisExecutor& AnalysisExecutor::operator=(AnalysisExecutor&&) noexcept = default;

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
    m_leftOut.reset();
    m_nothingToWarp = false;
    if (!m_knobs) return;
    const int type = m_knobs->executeType();
    if (type == 3 && m_rig) {
        m_tracker = std::make_unique<ConstraintTracker>(m_node, m_rig, m_knobs);
        m_tracker->start(inputFormat(cameraInputs()));
    }
    if (type < 0 || type > 2) return;
    if (!m_node->node()->input(0)) {
        m_node->error("%s needs footage: the node has no input.", type == 2 ? "Warp" : "Match");
        return;
    }
    m_knobs->actions().beforeAnalysis();
    m_warpedFrames.clear();
    if (type == 2 && m_knobs->gridMap()) m_depthBeforeWarp = m_knobs->gridMap()->solvedDepth();
    // A script may press Match or Warp without the panel ever opening: the rig and the
    // convergence depth "Auto" takes from it are read here as the panel would read them.
    if (m_rig) {
        m_rig->reloadRig(false);
        // Without cameras (a rig file that is missing or does not read) every step would do
        // nothing and report success.
        if (m_rig->numberOfCameras() == 0) {
            m_node->error("%s needs a camera rig: the input's metadata describes no cameras.",
                          type == 2 ? "Warp" : "Match");
            return;
        }
        m_knobs->followRigConvergence(m_rig->rigConvergence());
    }
    // The rig may have changed since the matches were triangulated.
    if (m_knobs->isMatched()) refineStoredMatches();
    if (type == 2 && !hasWarpInput()) {
        // Solved from nothing, every grid would be zero: the stores stay as they are.
        m_nothingToWarp = true;
        m_node->error(
            "Warp has nothing to align: no analysis key has camera matches and there are no "
            "line constraints. Press Match (or draw line constraints), then Warp.");
    }
}

bool AnalysisExecutor::hasWarpInput() const {
    if (const ControlPointsKnob* store = m_knobs->controlPoints())
        for (float key : m_knobs->getKeys())
            if (const CameraTrack* track = store->findCameraTrack(roundFrame(key)))
                if (!track->getTracks().empty()) return true;
    const ConstraintsKnob* constraints = m_knobs->constraints();
    for (int row = 0; constraints && row < constraints->constraintCount(); ++row)
        if (constraints->isConstraintEnabled(row) && constraints->trackCount(row) > 0) return true;
    return false;
}

void AnalysisExecutor::execute(double frame) {
    const int type = m_knobs ? m_knobs->executeType() : -1;
    if (type == 2 && m_nothingToWarp) return;
    if (type >= 0 && type <= 2 && !m_leftOut && m_rig) {
        leaveOutCamerasWithoutImage(roundFrame(frame));
        warnOfCamerasOverlappingNone();
    }
    switch (type) {
        case 0:
        case 1:
            matchFrame();
            return;
        case 2:
            warpFrame();
            return;
        case 3:
            if (m_tracker) m_tracker->trackFrame();
            return;
        default:
            m_node->error("Invalid execute type %d.", type);
    }
}

void AnalysisExecutor::end() {
    m_executing = false;
    if (m_knobs && m_knobs->executeType() == 2) warnOfOlderGrids();
    m_tracker.reset();  // its images and pyramids go with it
    m_device.reset();
    m_cpu.reset();
    if (m_knobs)
        m_knobs->actions().afterExecution(m_knobs->executeType());
    else
        m_node->asapUpdate();
}

void AnalysisExecutor::warnOfOlderGrids() const {
    const GridMapKnob* store = m_knobs->gridMap();
    const double before = m_depthBeforeWarp, after = store ? store->solvedDepth() : before;
    if (m_warpedFrames.empty() || !DepthsDiffer(before, after)) return;
    std::string older;
    for (int frame : store->frames())
        if (!m_warpedFrames.count(frame))
            older += (older.empty() ? "" : ", ") + std::to_string(frame);
    if (older.empty()) return;
    const bool one = older.find(',') == std::string::npos;
    m_node->progressMessage("Warning: Warp solved at " + DepthText(after) + ", but the grids of " +
                            (one ? "frame " : "frames ") + older + " were solved at " +
                            DepthText(before) +
                            " and are kept. Warp every key again to render them at one depth.");
}

bool AnalysisExecutor::skipFrame(double frame) const {
    if (!m_knobs || !m_rig) return true;
    const int f = roundFrame(frame);
    if (m_knobs->executeType() == 3) return !m_tracker || !m_tracker->wantsFrame(f);
    return !m_knobs->isAnalysisKey(f);
}

namespace {

/// A rig whose cameras are latlong carries each camera's footage projected into the panorama.
bool isLatlongRig(const CameraRigDefinition& rig) {
    return rig.getNumberCameras() > 0 &&
           rig.getCamera(0).getProjection() == ProjectionTypeEnum::Latlong;
}

/// The rig that matching works on: the cameras behind a latlong rig are the fisheyes they were
/// shot with.
CameraRigDefinition rigAsMatched(const CameraRigDefinition& live) {
    CameraRigDefinition rig = live;
    if (isLatlongRig(live))
        for (int c = 0; c < rig.getNumberCameras(); ++c)
            rig.getCamera(c).setProjection(ProjectionTypeEnum::Fisheye);
    return rig;
}

}  // namespace

std::vector<int> AnalysisExecutor::camerasOverlappingNone() const {
    const CameraRigDefinition rig = rigAsMatched(m_rig->rig());
    const std::vector<int> inputs = cameraInputs();
    std::vector<int> taking;
    for (int c = 0; c < int(inputs.size()) && c < rig.getNumberCameras(); ++c)
        if (inputs[size_t(c)] >= 0) taking.push_back(c);
    // Matching pairs the cameras as the rig links them, or where they overlap for a rig that
    // records no links.
    const auto pairs = rig.overlappingPairs(taking, SphericalTransform::kDefaultConvergenceDepth);
    std::vector<int> alone;
    for (const int c : taking)
        if (std::none_of(pairs.begin(), pairs.end(), [c](const std::pair<int, int>& p) {
                return p.first == c || p.second == c;
            }))
            alone.push_back(c);
    return alone;
}

void AnalysisExecutor::warnOfCamerasOverlappingNone() {
    const std::vector<int> alone = camerasOverlappingNone();
    if (alone.empty()) return;
    const bool one = alone.size() == 1;
    m_node->progressMessage(
        std::string("Warning: ") + (one ? "camera " : "cameras ") +
        CameraList(m_rig->rig(), alone) +
        (one ? " overlaps no other camera: it is" : " overlap no other camera: they are") +
        " not matched or warped.");
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
    // The key's record is made only once its matches are found: a key cancelled or failed
    // half-way must not look matched (with no matches) in the store.
    const CameraTrack* held = store->findCameraTrack(frame);
    const int type = m_knobs->executeType();
    if (type != 0 && (type != 1 || (held && !held->getTracks().empty()))) {
        store->stop_add_to_undo();
        return true;
    }

    m_rig->reloadRig(true);
    const CameraRigDefinition& live = m_rig->rig();
    const bool latlong = isLatlongRig(live);
    CameraRigDefinition rig = rigAsMatched(live);
    const std::vector<int> views = m_rig->multiViewManager()->cameraViews();
    if (rig.getNumberCameras() != int(views.size())) {
        store->stop_add_to_undo();
        return false;
    }
    // The input of each rig camera; -1 where no camera view carries it (left out of matching).
    const std::vector<int> inputs = cameraInputs();

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
    const TriangulationContext context = triangulationContext(rig, format, depth);
    for (FeatureTrack& match : found.getTracks()) triangulateMatch(context, match);

    store->cameraTrackAt(frame).getTracks() = std::move(found.getTracks());
    store->stop_add_to_undo();
    store->changed();
    return true;
}

TriangulationContext AnalysisExecutor::triangulationContext(const CameraRigDefinition& rig,
                                                            const PX::Image::Format& format,
                                                            double depth) {
    std::vector<SphericalTransform> transforms;
    for (int c = 0; c < rig.getNumberCameras(); ++c) {
        transforms.emplace_back(rig.getCamera(c));
        if (std::isfinite(depth) && depth > 0.0) transforms.back().setConvergenceDepth(depth);
    }
    const int width = format.width() > 0           ? format.width()
                      : rig.getNumberCameras() > 0 ? rig.getCamera(0).getFormatWidth()
                                                   : 0;
    return TriangulationContext(std::move(transforms), width);
}

void AnalysisExecutor::refineStoredMatches() {
    ControlPointsKnob* store = m_knobs->controlPoints();
    if (!store || !m_rig) return;
    m_rig->reloadRig(true);
    const TriangulationContext context = triangulationContext(
        m_rig->rig(), inputFormat(cameraInputs()), m_knobs->convergenceDepth());
    store->add_to_undo();
    for (int f : store->frames())
        for (FeatureTrack& match : store->cameraTrackAt(f).getTracks())
            triangulateMatch(context, match);
    store->stop_add_to_undo();
    store->changed();
    m_knobs->setMatchError(float(store->matchError()));
}

std::vector<int> AnalysisExecutor::cameraInputs() const {
    std::vector<int> inputs;
    for (int c = 0; c < m_rig->numberOfCameras(); ++c) {
        const int view = m_rig->viewOfCamera(c);
        inputs.push_back(
            view >= 0 && !(m_leftOut && m_leftOut->count(c)) ? m_rig->inputIndexOfView(view) : -1);
    }
    return inputs;
}

void AnalysisExecutor::leaveOutCamerasWithoutImage(int frame) {
    m_leftOut.emplace();
    m_rig->reloadRig(true);
    auto* iop = dynamic_cast<PX::Image::Iop*>(m_node);
    if (!iop) return;
    const std::vector<int> inputs = cameraInputs();
    const PX::Image::OutputContext saved = m_node->outputContext();
    PX::Image::OutputContext context = saved;
    context.setFrame(frame);
    m_node->setOutputContext(context);
    std::vector<int> without;
    for (int c = 0; c < int(inputs.size()); ++c) {
        if (inputs[size_t(c)] < 0) continue;
        PX::Image::Iop* in = iop->validateInput(inputs[size_t(c)]);
        if (in && in->valid() && in->info().format().width() > 0) continue;
        without.push_back(c);
    }
    m_node->setOutputContext(saved);
    // Without any image there is nothing to leave out for: matching says so itself.
    if (without.empty() || without.size() == inputs.size()) return;
    m_leftOut->insert(without.begin(), without.end());
    const std::string what = m_knobs->executeType() == 2 ? "Warp" : "Match";
    const std::string at = " at frame " + std::to_string(frame);
    if (without.size() == 1)
        m_node->progressMessage("Warning: camera " + CameraName(m_rig->rig(), without[0]) +
                                " has no image" + at + " and is left out of this " + what + ".");
    else
        m_node->progressMessage("Warning: " + std::to_string(without.size()) + " of the rig's " +
                                std::to_string(inputs.size()) + " cameras have no image" + at +
                                " and are left out of this " + what + ": " +
                                CameraList(m_rig->rig(), without) + ".");
}

PX::Image::Format AnalysisExecutor::inputFormat(const std::vector<int>& inputs) const {
    // The source in the node's own view may hold no image (a multi-view file pattern has
    // none for "main"), so the first camera view that validates stands for it.
    auto* iop = dynamic_cast<PX::Image::Iop*>(m_node);
    for (int c = 0; c < int(inputs.size()); ++c) {
        const int k = inputs[size_t(c)];
        PX::Image::Iop* in = iop && k >= 0 ? iop->validateInput(k) : nullptr;
        if (!in || !in->valid() || in->info().full_size_format().width() <= 0) continue;
        // Cameras that share one input (a dual-fisheye file) each see their own window of it.
        if (m_rig && c < m_rig->numberOfCameras() && m_rig->rig().getCamera(c).hasCropWindow()) {
            const CameraDefinition& camera = m_rig->rig().getCamera(c);
            return PX::Image::Format(camera.getFormatWidth(), camera.getFormatHeight());
        }
        return in->info().full_size_format();
    }
    return PX::Image::Format();
}

void AnalysisExecutor::gatherWarpConstraints(
    int frame,
    int view,
    WarpConstraintSink& out,
    const std::vector<SphericalTransform>* transforms) const {
    if (!m_rig || !m_knobs || m_rig->numberOfCameras() == 0) return;
    const int camera = m_rig->cameraIndexOfView(view);
    if (camera < 0 || camera >= m_rig->numberOfCameras()) return;
    const ConstraintsKnob* constraints = m_knobs->constraints();
    if (!constraints || constraints->constraintCount() == 0) return;
    const double radius = m_knobs->convergenceDepth(true);
    const std::vector<SphericalTransform> made =
        transforms ? std::vector<SphericalTransform>() : m_rig->cameraTransforms(radius);
    const std::vector<SphericalTransform>& cameras = transforms ? *transforms : made;
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

/// What every view's match targets at one warp share: the camera transforms at the node's
/// convergence depth and, per frame, each match's mean ideal latlong position (none when no
/// observing camera could give one). Each match is brought to the ideal image once, however
/// many views see it.
struct AnalysisExecutor::MatchTargets {
    using Pair = std::pair<int, int>;
    std::vector<SphericalTransform> transforms;
    std::map<int, std::vector<std::optional<Eigen::Vector2d>>> ideal;
    /// Per frame, the matches that can pull the warp (a target, RMS error within the
    /// threshold) counted per camera pair (a < b) they join.
    std::map<int, std::map<Pair, int>> pairCounts;
    int minPairMatches = kMinPairMatches;

    /// Counts the frame's pairs; its targets must be known.
    const std::map<Pair, int>& countPairs(int frame, const CameraTrack& track, double threshold);
    /// True when the match joins at least one pair with minPairMatches matches at `frame`.
    bool joinsTrustedPair(int frame, const FeatureTrack& match) const;

    const std::vector<std::optional<Eigen::Vector2d>>& idealOf(int frame, const CameraTrack& track);
    std::optional<Eigen::Vector2d> idealOfMatch(const FeatureTrack& match) const;
};

const std::vector<std::optional<Eigen::Vector2d>>& AnalysisExecutor::MatchTargets::idealOf(
    int frame, const CameraTrack& track) {
    auto found = ideal.find(frame);
    if (found != ideal.end()) return found->second;
    std::vector<std::optional<Eigen::Vector2d>>& out = ideal[frame];
    for (const FeatureTrack& match : track.getTracks()) out.push_back(idealOfMatch(match));
    return out;
}

namespace {

template <typename F>
void forEachPair(const FeatureTrack& match, F&& f) {
    const auto& features = match.getFeatures();
    for (size_t i = 0; i < features.size(); ++i)
        for (size_t j = i + 1; j < features.size(); ++j)
            if (features[i].first != features[j].first)
                f(std::make_pair(std::min(features[i].first, features[j].first),
                                 std::max(features[i].first, features[j].first)));
}

}  // namespace

const std::map<AnalysisExecutor::MatchTargets::Pair, int>&
AnalysisExecutor::MatchTargets::countPairs(int frame, const CameraTrack& track, double threshold) {
    auto found = pairCounts.find(frame);
    if (found != pairCounts.end()) return found->second;
    std::map<Pair, int>& counts = pairCounts[frame];
    const auto& targets = idealOf(frame, track);
    for (size_t m = 0; m < track.getTracks().size(); ++m) {
        const FeatureTrack& match = track.getTracks()[m];
        if (!targets[m] || match.getPoint().getRMSE() > threshold) continue;
        forEachPair(match, [&](const Pair& pair) { ++counts[pair]; });
    }
    return counts;
}

bool AnalysisExecutor::MatchTargets::joinsTrustedPair(int frame, const FeatureTrack& match) const {
    const auto counts = pairCounts.find(frame);
    if (counts == pairCounts.end()) return true;
    bool trusted = false;
    forEachPair(match, [&](const Pair& pair) {
        const auto it = counts->second.find(pair);
        trusted = trusted || (it != counts->second.end() && it->second >= minPairMatches);
    });
    return trusted;
}

std::optional<Eigen::Vector2d> AnalysisExecutor::MatchTargets::idealOfMatch(
    const FeatureTrack& match) const {
    // Every camera that saw the match puts P on the sphere of radius |P|; the mean of their
    // ideal latlong positions is P's direction from the rig centre. A camera whose projection
    // fails (P just outside its frame) falls back to its observed position, and one with no
    // ideal position leaves the mean. Without a triangulated point there is no depth to aim at.
    const Eigen::Vector3d& P = match.getPoint().getPosition();
    const double depth = P.norm();
    if (!match.getPoint().getIsValid() || !(depth > 0.0) || !std::isfinite(depth))
        return std::nullopt;
    Eigen::Vector2d sum = Eigen::Vector2d::Zero();
    int count = 0;
    for (const auto& [camera, feature] : match.getFeatures()) {
        if (camera < 0 || camera >= int(transforms.size())) continue;
        SphericalTransform atDepth = transforms[size_t(camera)];
        atDepth.setConvergenceDepth(depth);
        Eigen::Vector2d image = feature.getPosition();
        atDepth.ProjectFromWorld(P, &image);
        Eigen::Vector2d position;
        if (!atDepth.ProjectToIdeal(image, ProjectionTypeEnum::Latlong, &position)) continue;
        sum += position;
        ++count;
    }
    if (count == 0) return std::nullopt;
    return sum / count;
}

bool AnalysisExecutor::warpFrame() {
    GridMapKnob* store = m_knobs ? m_knobs->gridMap() : nullptr;
    if (!m_rig || !store) return false;
    m_rig->reloadRig(true);
    const PX::Image::Format format = inputFormat(cameraInputs());
    const int width = format.width();
    const int height = format.height();
    if (width <= 0 || height <= 0) return false;

    const int frame = roundFrame(m_node->uiContext().frame());
    const std::array<int, 2> grid = m_knobs->gridSize(true);
    const double smoothness = m_knobs->spatialSmoothness(true);
    const double consistency = m_knobs->temporalConsistency(true);
    const int reach = m_knobs->temporalWindow(true);

    // The window is measured in key indices. A frame that is no key has index -1: its window
    // cannot hold it, so no view is solved and nothing is stored.
    const std::vector<float> keys = m_knobs->getKeys();
    const int keyOfFrame = m_knobs->keyIndex(frame);
    std::set<int> window;
    for (int i = 0; i < int(keys.size()); ++i)
        if (std::abs(i - keyOfFrame) <= reach) window.insert(roundFrame(keys[size_t(i)]));
    if (window.empty()) return false;

    MatchTargets targets{
        m_rig->cameraTransforms(m_knobs->convergenceDepth(true)), {}, {}, m_minPairMatches};
    std::vector<int> views;
    for (int view : m_rig->multiViewManager()->cameraViews())
        if (m_rig->isCameraView(view) &&
            !(m_leftOut && m_leftOut->count(m_rig->cameraIndexOfView(view))))
            views.push_back(view);

    // The views' systems share nothing, so they are built and solved side by side, one view per
    // thread at a time. What touches the knobs and the constraint model stays on this thread:
    // the line constraints are gathered here first, and each match's target is computed here
    // once; the workers only read them. Every system gets its rows in the same order as if it
    // were built alone.
    const ControlPointsKnob* matchStore = m_knobs->controlPoints();
    std::vector<std::pair<const FeatureTrack*, std::optional<Eigen::Vector2d>*>> matchTargets;
    for (int f : window)
        if (const CameraTrack* track = matchStore ? matchStore->findCameraTrack(f) : nullptr) {
            auto& ideal = targets.ideal[f];
            ideal.resize(track->getTracks().size());
            for (size_t m = 0; m < ideal.size(); ++m)
                matchTargets.emplace_back(&track->getTracks()[m], &ideal[m]);
        }
    Kiln::WorkerPool::ParallelFor(matchTargets.size(), [&](size_t m) {
        *matchTargets[m].second = targets.idealOfMatch(*matchTargets[m].first);
    });
    // Pairs with too few matches to be trusted are left out: a warp pulled by one to three
    // matches (often wrong ones, when the rig's calibration is off) ghosts more than none.
    if (!guardPairs(frame, window, targets)) return false;
    struct Collected : WarpConstraintSink {
        std::map<int, std::vector<WarpConstraint>> byFrame;
        void addWarpConstraint(int f, const WarpConstraint& c) override { byFrame[f].push_back(c); }
    };
    std::vector<Collected> lines(views.size());
    for (size_t i = 0; i < views.size(); ++i)
        for (int f : window) gatherWarpConstraints(f, views[i], lines[i], &targets.transforms);

    std::vector<std::unique_ptr<GridWarpSolver>> solvers(views.size());
    std::vector<char> solved(views.size(), 0);
    Kiln::WorkerPool::ParallelFor(views.size(), [&](size_t i) {
        solvers[i] = std::make_unique<GridWarpSolver>(window, grid[0], grid[1], width, height);
        GridWarpSolver& solver = *solvers[i];
        for (int f : window) {
            gatherMatchConstraints(f, views[i], targets, solver);
            for (const WarpConstraint& c : lines[i].byFrame[f]) solver.addWarpConstraint(f, c);
            solver.addSmoothness(f, smoothness);
            solver.addConsistency(f, consistency);
        }
        solved[i] = solver.solve(frame);
    });

    std::unique_ptr<ProgressReporter> progress = CreateProgressReporter(m_node);
    progress->setProgressInterval(0.0, 1.0);
    // The grids are only right at the depth they were solved at: it is kept with them.
    store->add_to_undo();
    store->setSolvedDepth(m_knobs->convergenceDepth(true));
    m_warpedFrames.insert(frame);
    for (size_t i = 0; i < views.size(); ++i) {
        if (solved[i]) store->setGrid(frame, views[i], solvers[i]->grid());
        progress->setProgressFraction(double(i + 1) / double(views.size()));
    }
    if (progress->isInterrupted()) {
        store->stop_add_to_undo();
        return false;
    }
    store->changed();
    store->stop_add_to_undo();
    return true;
}

bool AnalysisExecutor::gatherMatchConstraints(int frame, int view, WarpConstraintSink& out) const {
    if (!m_knobs || !m_rig) return false;
    MatchTargets targets{
        m_rig->cameraTransforms(m_knobs->convergenceDepth(true)), {}, {}, m_minPairMatches};
    const ControlPointsKnob* store = m_knobs->controlPoints();
    if (const CameraTrack* track = store ? store->findCameraTrack(frame) : nullptr)
        targets.countPairs(frame, *track, m_knobs->warpThreshold(true));
    return gatherMatchConstraints(frame, view, targets, out);
}

bool AnalysisExecutor::guardPairs(int frame, const std::set<int>& window, MatchTargets& targets) {
    const ControlPointsKnob* store = m_knobs->controlPoints();
    const double threshold = m_knobs->warpThreshold(true);
    for (int f : window)
        if (const CameraTrack* track = store ? store->findCameraTrack(f) : nullptr)
            targets.countPairs(f, *track, threshold);
    const auto counts = targets.pairCounts.find(frame);
    if (counts == targets.pairCounts.end() || counts->second.empty()) return true;
    auto name = [this](int camera) { return CameraName(m_rig->rig(), camera); };
    int most = 0;
    for (const auto& [pair, count] : counts->second) {
        most = std::max(most, count);
        if (count < m_minPairMatches)
            m_node->progressMessage("Warning: Warp at frame " + std::to_string(frame) +
                                    " leaves out pair " + name(pair.first) + "-" +
                                    name(pair.second) + ": " + std::to_string(count) +
                                    (count == 1 ? " match" : " matches") + ", at least " +
                                    std::to_string(m_minPairMatches) + " are needed to trust it.");
    }
    if (most >= m_minPairMatches) return true;
    m_node->error(
        "Warp at frame %d: no camera pair has enough matches to be trusted (at most %d, at least "
        "%d needed). The rig's calibration may be off: press Refine Rig, then Match again.",
        frame,
        most,
        m_minPairMatches);
    return false;
}

bool AnalysisExecutor::gatherMatchConstraints(int frame,
                                              int view,
                                              MatchTargets& targets,
                                              WarpConstraintSink& out) const {
    if (!m_knobs || !m_rig || !m_rig->isCameraView(view)) return false;
    const ControlPointsKnob* matches = m_knobs->controlPoints();
    if (!matches) return false;
    const int camera = m_rig->cameraIndexOfView(view);
    if (camera >= int(targets.transforms.size())) return false;
    const CameraTrack* track = matches->findCameraTrack(frame);
    if (!track) return true;

    const double threshold = m_knobs->warpThreshold(true);
    const KnobManager::KernelType kernel = m_knobs->kernelType(true);
    const double matchStrength = m_knobs->matchStrength(true);
    const double userMatchStrength = m_knobs->userMatchStrength(true);
    const auto& ideal = targets.idealOf(frame, *track);
    const SphericalTransform& own = targets.transforms[size_t(camera)];

    for (size_t m = 0; m < track->getTracks().size(); ++m) {
        const FeatureTrack& match = track->getTracks()[m];
        const double rmse = match.getPoint().getRMSE();
        if (!ideal[m] || rmse > threshold || !targets.joinsTrustedPair(frame, match)) continue;
        const auto& features = match.getFeatures();
        auto seen = std::find_if(features.begin(), features.end(), [camera](const auto& f) {
            return f.first == camera;
        });
        Eigen::Vector2d target;
        if (seen == features.end() ||
            !own.ProjectFromIdeal(*ideal[m], ProjectionTypeEnum::Latlong, &target))
            continue;
        const Eigen::Vector2d observed = seen->second.getPosition();

        const double r = threshold > 1e-6 ? rmse / threshold : 0.0;
        double factor = 1.0;
        if (kernel == KnobManager::KernelType::Linear) factor = 1.0 - r;
        if (kernel == KnobManager::KernelType::Gaussian) factor = std::exp(-5.0 * r * r);

        WarpConstraint constraint;
        constraint.x = target.x();
        constraint.y = target.y();
        constraint.dx = observed.x() - target.x();
        constraint.dy = observed.y() - target.y();
        constraint.score = (match.getIsUserTrack() ? userMatchStrength : matchStrength) * factor;
        out.addWarpConstraint(frame, constraint);
    }
    return true;
}

}  // namespace Research
}  // namespace Korvane
