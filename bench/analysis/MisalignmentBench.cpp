// SPDX-License-Identifier: Apache-2.0
// The ghosting the warp removes, measured on the default footage's ground truth.
//
//   build/bin/misalignment_bench [--footage DIR | --realistic] [benchmark flags]
//
// DIR holds make_rig footage with its truth folder (default: build/demo/footage, which
// scripts/main.sh makes; made here when missing). --realistic uses make_rig's realistic set
// instead (2 degrees of rotation error per camera in rig.json, focal and centre error,
// exposure, white balance, vignetting, noise), made when missing in
// build/demo/footage-realistic. The node analyses it as a user would: Key All
// every 5 frames, Match, then Warp at grid sizes 10 x 10 and 20 x 20 and temporal windows 0 and
// 2, every other knob at its default. For each, the scene points that two or more cameras see
// are put into a 2048 x 1024 panorama through each camera's warped image (see warp_quality);
// printed are the median and 90th percentile of their misalignment, unwarped and warped. The
// benchmarks then time one Warp execution over all keys per setting.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Graph.h"
#include "RigGenerator.h"
#include "ScriptFile.h"
#include "WarpQuality.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/Executable.h"
#include "px/image/Host.h"
#include "px/image/Knob.h"
#include "px/image/Node.h"
#include "px/image/UndoStack.h"

using namespace Korvane::Research;

namespace {

struct Setting {
    int grid;
    int window;
};
const Setting kSettings[] = {{10, 0}, {10, 2}, {20, 0}, {20, 2}};

// Progress bars would drown the figures.
class QuietHost : public PX::Image::Host {
public:
    void progress(PX::Image::Node*, float) override {}
    void progressMessage(PX::Image::Node*, const std::string&) override {}
    void progressDismiss(PX::Image::Node*) override {}
};

std::string g_footage;
std::string g_matches;  // the controlPoints text of the one Match all settings share

// The footage read by a Read node into a V_DizuvaRuvi node, as the demo script has it.
struct Analysis {
    std::unique_ptr<Vireo::Graph> graph;
    PX::Image::Node* node = nullptr;
    DizuvaRuviPlugin* op = nullptr;

    explicit Analysis(const std::string& footage) {
        std::istringstream script(
            "vireo 1\n"
            "views main cam1 cam2 cam3 cam4 cam5 cam6\n"
            "frames 1 10\n"
            "format 2K_LatLong\n"
            "node Read Read1\n"
            "    file " +
            footage +
            "/%V.####.exr\n"
            "    rig " +
            footage +
            "/rig.json\n"
            "    last 10\n"
            "end\n"
            "node V_DizuvaRuvi DizuvaRuvi1\n"
            "end\n"
            "connect Read1 DizuvaRuvi1 0\n");
        graph = Vireo::ScriptFile("misalignment_bench").read(script);
        node = graph->node("DizuvaRuvi1");
        op = dynamic_cast<DizuvaRuviPlugin*>(node->op());
        if (!op) throw std::runtime_error("no V_DizuvaRuvi node");
        node->setKnobFromUser("keyStep", "5");
        node->pressKnob("addAllAnalysisKeys");
    }

    std::vector<int> keys() const {
        std::vector<int> frames;
        for (float k : op->knobManager().getKeys()) frames.push_back(int(k));
        return frames;
    }

    void run(int executeType) {
        op->knobManager().setExecuteType(executeType);
        const PX::Image::ExecuteResult r = PX::Image::execute(op, keys());
        if (!r.error.empty()) throw std::runtime_error(r.error);
    }

    void setup(const Setting& s) {
        node->setKnobFromUser("gridSize", std::to_string(s.grid) + " " + std::to_string(s.grid));
        node->setKnobFromUser("temporalWindow", std::to_string(s.window));
        if (!node->knob("controlPoints")->from_script(g_matches.c_str()))
            throw std::runtime_error("the matches did not load back");
    }
};

void printQuality() {
    std::printf("misalignment of ground-truth scene points, pixels of a 2048 x 1024 panorama\n");
    std::printf(
        "grid   window   points   unwarped median  90th   warped median  90th   "
        "median ratio\n");
    for (const Setting& s : kSettings) {
        Analysis a(g_footage);
        a.setup(s);
        a.run(2);
        WarpQualityReport report;
        for (int key : a.keys())
            measureWarpQuality(
                *a.op, key, readTruthMatches(truthPointsPath(g_footage + "/truth", key)), report);
        const MisalignmentFigures before = MisalignmentFigures::of(report.unwarped);
        const MisalignmentFigures after = MisalignmentFigures::of(report.warped);
        std::printf("%2dx%-2d  %6d  %7zu   %15.3f %6.3f  %13.3f %6.3f   %11.0f%%\n",
                    s.grid,
                    s.grid,
                    s.window,
                    before.points,
                    before.median,
                    before.p90,
                    after.median,
                    after.p90,
                    100.0 * after.median / before.median);
    }
    std::fflush(stdout);
}

void BM_WarpAllKeys(benchmark::State& state) {
    const Setting s{int(state.range(0)), int(state.range(1))};
    Analysis a(g_footage);
    a.setup(s);
    for (auto _ : state) a.run(2);
    state.counters["keys"] = double(a.keys().size());
}
BENCHMARK(BM_WarpAllKeys)
    ->Args({10, 0})
    ->Args({10, 2})
    ->Args({20, 0})
    ->Args({20, 2})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    static QuietHost host;
    PX::Image::Host::install(&host);
    bool realistic = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--footage" && i + 1 < argc) {
            g_footage = argv[++i];
        } else if (arg == "--realistic") {
            realistic = true;
        } else {
            std::fprintf(stderr, "misalignment_bench: unknown argument '%s'\n", arg.c_str());
            return 2;
        }
    }
    try {
        if (g_footage.empty()) {
            const std::filesystem::path bin =
                std::filesystem::canonical("/proc/self/exe").parent_path();
            g_footage = (bin.parent_path() / "demo" / (realistic ? "footage-realistic" : "footage"))
                            .string();
        }
        if (!std::filesystem::exists(g_footage + "/truth/points.0010.json")) {
            std::printf("misalignment_bench: making the %s footage with truth in %s\n",
                        realistic ? "realistic" : "default",
                        g_footage.c_str());
            std::vector<std::string> args = {"--out", g_footage};
            if (realistic) args.push_back("--realistic");
            Korvane::MakeRig::RigGenerator(Korvane::MakeRig::RigOptions::parse(args)).run(nullptr);
        }
        g_footage = std::filesystem::absolute(g_footage).string();
        PX::Image::UndoStack::instance().suspend();  // nothing here is ever undone
        {
            Analysis a(g_footage);
            a.run(0);
            g_matches = a.node->knob("controlPoints")->toScriptText();
        }
        printQuality();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "misalignment_bench: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
