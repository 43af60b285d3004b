// SPDX-License-Identifier: Apache-2.0
// One warp solve (warpFrame) on the bundled default rig: 6 fisheye cameras at 1280 x 960, a
// window of 5 analysis keys, camera matches made from scene points at 1.5 to 8 m around the
// overlap of every linked camera pair, seen through the rig's own projections with 0.5 px of
// noise. Arguments: the grid side (10 and 40) and the matches per linked pair and key (300, and
// 100 to show how the time follows the match count; the rig links 12 pairs). Counters: the LSQR
// iterations of the 6 views' solves (mean and largest), the number of matches per key, and the
// largest difference (px) at any vertex between the grids of the default stopping rules and of atol
// = btol = 1e-10.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <Eigen/Geometry>

#include "SyntheticRig.h"
#include "TestRigSource.h"
#include "analysis/AnalysisExecutor.h"
#include "analysis/ControlPointsKnob.h"
#include "analysis/GridMapKnob.h"
#include "analysis/GridWarpSolver.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "px/image/UndoStack.h"

using namespace Korvane::Research;
using namespace PX::Image;
namespace MakeRig = Korvane::MakeRig;

namespace {

constexpr int kKeys[] = {10, 20, 30, 40, 50};
constexpr int kSolvedKey = 30;  // temporal window 2: all five keys

/// Adds matches of random scene points around the overlap of every linked camera pair.
int addMatches(const CameraRigDefinition& rig,
               ControlPointsKnob& store,
               int frame,
               int perPair,
               unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0), depth(1.5, 8.0), rmse(0.1, 3.0);
    std::normal_distribution<double> noise(0.0, 0.5);
    std::vector<SphericalTransform> cameras;
    for (int c = 0; c < rig.getNumberCameras(); ++c) cameras.emplace_back(rig.getCamera(c));
    int added = 0;
    for (int a = 0; a < rig.getNumberCameras(); ++a)
        for (int b : rig.getLinks(a)) {
            if (b < a) continue;
            const Eigen::Vector3d axis = (cameras[size_t(a)].getCameraToWorldRotation().col(2) +
                                          cameras[size_t(b)].getCameraToWorldRotation().col(2))
                                             .normalized();
            for (int made = 0, tries = 0; made < perPair && tries < 100 * perPair; ++tries) {
                // Up to 25 degrees across and 35 degrees up or down from the pair's mid axis.
                const Eigen::Matrix3d turn =
                    (Eigen::AngleAxisd(0.44 * unit(rng), Eigen::Vector3d::UnitY()) *
                     Eigen::AngleAxisd(0.61 * unit(rng), Eigen::Vector3d::UnitX()))
                        .toRotationMatrix();
                const Eigen::Vector3d P = depth(rng) * (turn * axis);
                FeatureTrack match;
                for (int c : {a, b}) {
                    Eigen::Vector2d image;
                    if (!cameras[size_t(c)].ProjectFromWorld(P, &image)) break;
                    image += Eigen::Vector2d(noise(rng), noise(rng));
                    match.getFeatures().emplace_back(c, Feature(image));
                }
                if (match.getFeatures().size() < 2) continue;
                match.setPoint(Point(P * (1.0 + 0.002 * noise(rng)), rmse(rng)));
                store.cameraTrackAt(frame).getTracks().push_back(match);
                ++made;
                ++added;
            }
        }
    return added;
}

/// The default rig in a graph: source, node, keys, matches and the warp settings.
struct DefaultRigScene {
    DefaultRigScene(int gridSide, int matchesPerPair) {
        UndoStack::instance().suspend();
        const MakeRig::SyntheticRig rig{MakeRig::RigOptions()};
        std::vector<std::string> views{"main"};
        for (int c = 1; c <= rig.definition().getNumberCameras(); ++c)
            views.push_back("cam" + std::to_string(c));
        Views::setNames(views);
        source = Node::create("TestRigSource", "Source1");
        auto* src = static_cast<NodeTests::TestRigSource*>(source->op());
        src->width = MakeRig::RigOptions().width;
        src->height = MakeRig::RigOptions().height;
        MetaDataHandler handler;
        handler.setRig(rig.definition());
        handler.setRigConvergence(rig.convergence());
        src->bundle = handler.getMetaDataBundle();
        node = Node::create("V_DizuvaRuvi", "DizuvaRuvi1");
        node->setInput(0, source.get());
        op = static_cast<DizuvaRuviPlugin*>(node->op());

        const std::string side = std::to_string(gridSide);
        node->setKnobFromUser("gridSize", side + " " + side);
        node->setKnobFromUser("temporalWindow", "2");
        node->setKnobFromUser("convergenceDepth", std::to_string(rig.convergence()));
        auto* keys = static_cast<ArrayKnob*>(node->knob("analysisKeyframe"));
        for (int k : kKeys) {
            keys->setKeyAt(k);
            matchesPerKey = addMatches(rig.definition(),
                                       *op->knobManager().controlPoints(),
                                       k,
                                       matchesPerPair,
                                       unsigned(k));
        }
        const OutputContext context(kSolvedKey, Views::find("cam1"));
        op->setOutputContext(context);
        node->setUIContext(context);
        node->storeKnobs(context);
        op->validate();
        executor = AnalysisExecutor(op);
        executor.attach(&op->rigContext(), &op->knobManager());
    }
    ~DefaultRigScene() {
        node.reset();
        source.reset();
        Views::setNames({"main"});
        UndoStack::instance().resume();
    }

    struct ViewSolves {
        std::vector<int> iterations;   ///< of each view's solve
        double tightIterations = 0.0;  ///< mean over the views
        double largestChange = 0.0;    ///< px, between the default and a tight solve
    };
    /// Every view's solve, through the same gathering as warpFrame, with the default stopping
    /// rules and with atol = btol = 1e-10.
    ViewSolves solveViews() const {
        const int side = op->knobManager().gridSize(true)[0];
        const std::set<int> window(std::begin(kKeys), std::end(kKeys));
        const int width = MakeRig::RigOptions().width, height = MakeRig::RigOptions().height;
        LsqrOptions tight;
        tight.atol = tight.btol = 1e-10;
        GridWarpSolver solver(window, side, side, width, height);
        GridWarpSolver reference(window, side, side, width, height, tight);
        ViewSolves out;
        for (int view : op->rigContext().multiViewManager()->cameraViews()) {
            for (GridWarpSolver* s : {&solver, &reference})
                for (int f : kKeys) {
                    executor.gatherMatchConstraints(f, view, *s);
                    s->addSmoothness(f, op->knobManager().spatialSmoothness(true));
                    s->addConsistency(f, op->knobManager().temporalConsistency(true));
                }
            if (solver.solve(kSolvedKey) && reference.solve(kSolvedKey)) {
                out.iterations.push_back(solver.lastSummary().iterations);
                out.tightIterations += reference.lastSummary().iterations;
                for (size_t v = 0; v < solver.grid().points.size(); ++v)
                    out.largestChange =
                        std::max(out.largestChange,
                                 (solver.grid().points[v] - reference.grid().points[v]).norm());
            }
            solver.resetRows();
            reference.resetRows();
        }
        if (!out.iterations.empty()) out.tightIterations /= double(out.iterations.size());
        return out;
    }

    std::unique_ptr<Node> source, node;
    DizuvaRuviPlugin* op = nullptr;
    AnalysisExecutor executor{nullptr};
    int matchesPerKey = 0;
};

void BM_WarpFrame(benchmark::State& state) {
    DefaultRigScene scene(int(state.range(0)), int(state.range(1)));
    for (auto _ : state)
        if (!scene.executor.warpFrame()) state.SkipWithError("warpFrame failed");
    if (scene.op->knobManager().gridMap()->gridCount() != 6)
        state.SkipWithError("not every camera got a grid");
    const DefaultRigScene::ViewSolves solves = scene.solveViews();
    const std::vector<int>& iterations = solves.iterations;
    double sum = 0;
    for (int i : iterations) sum += i;
    state.counters["lsqr_iterations_mean"] = iterations.empty() ? 0.0 : sum / iterations.size();
    state.counters["lsqr_iterations_max"] =
        iterations.empty() ? 0.0 : *std::max_element(iterations.begin(), iterations.end());
    state.counters["matches_per_key"] = scene.matchesPerKey;
    state.counters["px_from_tight_solve"] = solves.largestChange;
    state.counters["tight_iterations_mean"] = solves.tightIterations;
}
BENCHMARK(BM_WarpFrame)
    ->ArgNames({"grid", "matches_per_pair"})
    ->Args({10, 300})
    ->Args({40, 300})
    ->Args({10, 100})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
