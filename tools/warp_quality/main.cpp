// SPDX-License-Identifier: Apache-2.0
// warp_quality: how much ghosting a node's warp leaves, measured on make_rig's ground truth.
//
//   warp_quality SCRIPT TRUTH_DIR [NODE]
//
// Loads the vireo script SCRIPT (saved after Match and Warp), takes the node NODE (default: the
// first V_DizuvaRuvi node) and, at each of its analysis keys that has a truth file in TRUTH_DIR,
// measures the misalignment of the scene's points before and after the warp, at the depth the
// warp was solved at when the script records it. Prints the depth, the median
// and the 90th percentile in pixels of a 2048 x 1024 panorama. Exit status 2 on bad arguments,
// unreadable files or a node without a rig; 1 when no scene point could be measured.
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "Graph.h"
#include "ScriptFile.h"
#include "WarpQuality.h"
#include "analysis/GridMapKnob.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/Node.h"

using namespace Korvane::Research;
using Vireo::Graph;
using Vireo::ScriptFile;

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: warp_quality SCRIPT TRUTH_DIR [NODE]\n");
        return 2;
    }
    try {
        ScriptFile file(argv[1]);
        std::unique_ptr<Graph> graph = file.load();
        DizuvaRuviPlugin* node = nullptr;
        for (const auto& n : graph->nodes())
            if (argc < 4 ? n->className() == "V_DizuvaRuvi" : n->name() == argv[3])
                node = dynamic_cast<DizuvaRuviPlugin*>(n->op());
        if (!node) {
            std::fprintf(stderr,
                         "warp_quality: %s: no V_DizuvaRuvi node%s%s\n",
                         argv[1],
                         argc == 4 ? " called " : "",
                         argc == 4 ? argv[3] : "");
            return 2;
        }
        WarpQualityReport report;
        int keys = 0;
        for (float key : node->knobManager().getKeys()) {
            const std::string truth = truthPointsPath(argv[2], int(key));
            if (!std::filesystem::exists(truth)) {
                std::fprintf(
                    stderr, "warp_quality: no truth for key %d (%s)\n", int(key), truth.c_str());
                continue;
            }
            measureWarpQuality(*node, int(key), readTruthMatches(truth), report);
            ++keys;
        }
        if (report.unwarped.empty()) {
            std::fprintf(stderr,
                         "warp_quality: %s: no scene point of %s is seen by two cameras at any "
                         "analysis key of the node (%d keys with truth)\n",
                         argv[1],
                         argv[2],
                         keys);
            return 1;
        }
        if (report.atSolvedDepth)
            std::printf("measured at %s, the depth the warp was solved at\n",
                        DepthText(report.depth).c_str());
        else
            std::printf(
                "measured at %s, the node's convergence depth (the script does not "
                "record the depth the warp was solved at)\n",
                DepthText(report.depth).c_str());
        if (DepthsDiffer(report.depth, report.renderDepth))
            std::printf("note: the node renders at %s now; Warped output ghosts there\n",
                        DepthText(report.renderDepth).c_str());
        const MisalignmentFigures before = MisalignmentFigures::of(report.unwarped);
        const MisalignmentFigures after = MisalignmentFigures::of(report.warped);
        std::printf(
            "misalignment of %zu scene points over %d keys, pixels of a 2048 x 1024 "
            "panorama:\n",
            before.points,
            keys);
        std::printf(
            "  %-9s median %7.3f   90th percentile %7.3f\n", "unwarped", before.median, before.p90);
        std::printf(
            "  %-9s median %7.3f   90th percentile %7.3f\n", "warped", after.median, after.p90);
        if (before.median > 0)
            std::printf("  warped median = %.0f%% of unwarped\n",
                        100.0 * after.median / before.median);
        const MisalignmentFigures offBefore = MisalignmentFigures::of(report.unwarpedOffset);
        const MisalignmentFigures offAfter = MisalignmentFigures::of(report.warpedOffset);
        std::printf("offset of %zu observations from the true direction, same pixels:\n",
                    offBefore.points);
        std::printf("  %-9s median %7.3f   90th percentile %7.3f\n",
                    "unwarped",
                    offBefore.median,
                    offBefore.p90);
        std::printf("  %-9s median %7.3f   90th percentile %7.3f\n",
                    "warped",
                    offAfter.median,
                    offAfter.p90);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "warp_quality: %s\n", e.what());
        return 2;
    }
}
