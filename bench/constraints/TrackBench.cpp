// SPDX-License-Identifier: Apache-2.0
// Constraint tracking: first its quality against ground truth through vireo, then the time of
// the tracker alone.
//
//   build/bin/track_bench [--footage DIR] [--seed S] [--vireo PATH] [benchmark flags]
//
// Quality: DIR holds make_rig footage with the moving target (make_rig --target, seed S,
// default 1); without --footage a set of 6 fisheye cameras at 1280 x 960 over 10 frames is
// made once in build/bench-footage-target. A constraint of 4 points on the target's straight
// edge in each of cameras 1 and 2 (8 points), drawn on frame 1 at the true positions, is
// tracked by the node through vireo (the Track button) at Step 1 and at Step 5. For every key
// the error against the true image position of the same material point is reported by frame,
// and keys written where the point is hidden or outside the image are counted (there should
// be none: such a point must be lost rather than jump). The time per tracked frame through
// vireo includes reading the files.
//
// Time: FeatureTracker::track of 8 points between two 1280 x 960 images in memory, the pyramid
// of the previous image cached (as in an execution), the current one built.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "MovingTarget.h"
#include "RigGenerator.h"
#include "RigOptions.h"
#include "Scene.h"
#include "TrackingTexture.h"
#include "slib/FeatureTracking/FeatureTracker.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigFile.h"
#include "vellacam/SphericalTransform.h"

using namespace Korvane::Research;
using Korvane::MakeRig::MovingTarget;
using Korvane::MakeRig::Scene;
namespace FT = Korvane::SLIB::FeatureTracking;

namespace {

/// Along the edge, metres from its middle.
const double kAlong[] = {-0.1125, 0.0875, 0.1875, 0.2875};
constexpr int kFrames = 10;

struct Setup {
    std::string footage;
    std::string vireo;
    unsigned long long seed = 1;
};

CameraRigDefinition readRig(const std::string& dir) {
    PX::Image::MetaData::Bundle bundle;
    ReadRigFile(dir + "/rig.json", &bundle);
    MetaDataHandler handler;
    handler.updateMetaDataBundle(bundle);
    return handler.getRig();
}

/// Where edge point `along` is in camera `c` at `frame`; false when hidden or without image.
bool truePosition(const CameraRigDefinition& rig,
                  const Scene& scene,
                  int c,
                  double along,
                  int frame,
                  Eigen::Vector2d* image) {
    const Eigen::Vector3d point = MovingTarget::edgePoint(along, frame);
    const CameraDefinition& camera = rig.getCamera(c);
    if (MovingTarget::hidden(scene.atFrame(frame), camera.getPosition(), point)) return false;
    return SphericalTransform(camera).ProjectFromWorld(point, image);
}

struct Point {
    int camera = 0;
    double along = 0.0;
};

/// The constraint of every edge point visible at frame 1 in cameras 1 and 2, with its key there.
std::string initialConstraint(const CameraRigDefinition& rig,
                              const Scene& scene,
                              std::vector<Point>* points) {
    std::ostringstream tracks;
    tracks.precision(10);
    for (int c = 0; c < 2; ++c)
        for (double along : kAlong) {
            Eigen::Vector2d p;
            if (!truePosition(rig, scene, c, along, 1, &p)) continue;
            points->push_back({c, along});
            tracks << "    " << c << " 1 " << p.x() << " " << p.y() << " 1 \n";
        }
    std::ostringstream text;
    text << "  version 2\n  total 1 visible 1\n  name edge colour 1 0.5 0 size " << points->size()
         << " strength 4 sampling 20 life 1 1 visible 1 selected 1 \n"
         << tracks.str();
    return text.str();
}

/// Keys by point (in the order of the text) and frame.
std::vector<std::map<int, Eigen::Vector2d>> readKeys(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    std::vector<std::map<int, Eigen::Vector2d>> keys;
    int size = 0;
    while (in >> word && word != "size") {
    }
    in >> size;
    while (in >> word && word != "selected") {
    }
    in >> word;
    for (int k = 0; k < size; ++k) {
        int view = 0, count = 0;
        in >> view >> count;
        keys.emplace_back();
        for (int i = 0; i < count; ++i) {
            double x, y;
            int frame;
            in >> x >> y >> frame;
            keys.back()[frame] = Eigen::Vector2d(x, y);
        }
    }
    if (!in) throw std::runtime_error(path + ": not a constraints text");
    return keys;
}

void writeScript(const Setup& s, const CameraRigDefinition& rig, const std::string& path) {
    std::ofstream out(path);
    out << "vireo 1\nviews main";
    for (int c = 0; c < rig.getNumberCameras(); ++c) out << " " << rig.getCamera(c).getOutputView();
    out << "\nframes 1 " << kFrames << "\nformat 2K_LatLong\n\nnode Read Read1\n    file "
        << s.footage << "/%V.####.exr\n    rig " << s.footage << "/rig.json\n    last " << kFrames
        << "\nend\n\nnode V_DizuvaRuvi DizuvaRuvi1\nend\n\nconnect Read1 DizuvaRuvi1 0\n";
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

void printQuality(const Setup& s) {
    const CameraRigDefinition rig = readRig(s.footage);
    Scene scene = Scene::build(s.seed);
    MovingTarget::addTo(scene, s.seed);
    std::vector<Point> points;
    const std::string work = s.footage + "/track-bench";
    std::filesystem::create_directories(work);
    { std::ofstream(work + "/initial.txt") << initialConstraint(rig, scene, &points); }
    writeScript(s, rig, work + "/track.vireo");
    std::printf(
        "constraint tracking against the truth: %zu edge points in cameras 1 and 2, "
        "drawn on frame 1\n",
        points.size());
    for (int step : {1, 5}) {
        const std::string out = work + "/tracked" + std::to_string(step) + ".txt";
        const std::string command = "'" + s.vireo + "' '" + work + "/track.vireo' -t '" +
                                    TRACK_SCRIPT + "' '" + work + "/initial.txt' '" + out + "' " +
                                    std::to_string(step) + " 2>/dev/null";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
        const auto keys = readKeys(out);
        int frames = 0;
        double seconds = 0.0, cpu = 0.0;
        std::ifstream(out + ".time") >> frames >> seconds >> cpu;

        std::printf(
            "Step %d: per tracked frame through vireo, files read: %.1f ms wall, %.1f ms "
            "CPU (%d frames)\n",
            step,
            1000.0 * seconds / std::max(frames, 1),
            1000.0 * cpu / std::max(frames, 1),
            frames);
        std::printf("  frame  keys  visible  median px  max px  keys on hidden or outside\n");
        std::vector<double> all;
        int wrong = 0;
        for (int f = 1 + step; f <= kFrames; f += step) {
            std::vector<double> errors;
            int visible = 0, bad = 0, count = 0;
            for (size_t k = 0; k < points.size() && k < keys.size(); ++k) {
                Eigen::Vector2d truth;
                const bool seen =
                    truePosition(rig, scene, points[k].camera, points[k].along, f, &truth);
                visible += seen;
                auto key = keys[k].find(f);
                if (key == keys[k].end()) continue;
                ++count;
                if (!seen) {
                    ++bad;
                    continue;
                }
                errors.push_back((key->second - truth).norm());
            }
            all.insert(all.end(), errors.begin(), errors.end());
            wrong += bad;
            std::printf("  %5d  %4d  %7d  %9.3f  %6.3f  %d\n",
                        f,
                        count,
                        visible,
                        percentile(errors, 0.5),
                        errors.empty() ? NAN : *std::max_element(errors.begin(), errors.end()),
                        bad);
        }
        for (size_t k = 0; k < points.size() && k < keys.size(); ++k) {
            std::printf("  cam%d %+.4f m: keys at", points[k].camera + 1, points[k].along);
            for (const auto& key : keys[k]) std::printf(" %d", key.first);
            std::printf("; hidden or outside at");
            for (int f = 1; f <= kFrames; ++f) {
                Eigen::Vector2d p;
                if (!truePosition(rig, scene, points[k].camera, points[k].along, f, &p))
                    std::printf(" %d", f);
            }
            std::printf("\n");
        }
        std::printf(
            "  all keys: median %.3f px, 90th percentile %.3f px, max %.3f px; %d keys "
            "on hidden or outside points\n",
            percentile(all, 0.5),
            percentile(all, 0.9),
            all.empty() ? NAN : *std::max_element(all.begin(), all.end()),
            wrong);
    }
}

using TrackingTests::texture;

void BM_TrackEightPoints(benchmark::State& state) {
    const int w = 1280, h = 960;
    const double dx = 7.3, dy = -2.6;
    FT::TrackingImage before(w, h), after(w, h);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            before.at(i, j) = float(texture(i + 0.5, j + 0.5));
            after.at(i, j) = float(texture(i + 0.5 - dx, j + 0.5 - dy));
        }
    FT::FeatureTracker tracker;
    tracker.setMaxNewFeatures(0);
    tracker.setDetection(false);
    int frame = 1;
    for (auto _ : state) {
        // Two views of four points; each iteration is a new current frame of both views.
        ++frame;
        double worst = 0.0;
        for (int view = 1; view <= 2; ++view) {
            std::vector<FT::TrackedFeatureTrack> tracks(4);
            for (int k = 0; k < 4; ++k)
                tracks[size_t(k)].setKey({1, view}, FT::TrackedFeature(300.0 + 200 * k, 480.0));
            if (!tracker.track({1, view}, before, {frame, view}, after, tracks))
                state.SkipWithError("track failed");
            for (const auto& t : tracks) {
                const FT::TrackedFeature* f = t.find({frame, view});
                worst = std::max(worst, f ? std::abs(f->x - t.find({1, view})->x - dx) : 1e9);
            }
        }
        state.counters["worst_px"] = worst;
    }
}
BENCHMARK(BM_TrackEightPoints)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    Setup s;
    const std::filesystem::path bin = std::filesystem::canonical("/proc/self/exe").parent_path();
    s.vireo = (bin / "vireo").string();
    s.footage = (bin.parent_path() / "bench-footage-target").string();
    std::vector<char*> rest{argv[0]};
    bool given = false;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        if (a == "--footage" && k + 1 < argc) {
            s.footage = argv[++k];
            given = true;
        } else if (a == "--seed" && k + 1 < argc) {
            s.seed = std::stoull(argv[++k]);
        } else if (a == "--vireo" && k + 1 < argc) {
            s.vireo = argv[++k];
        } else {
            rest.push_back(argv[k]);
        }
    }
    try {
        s.footage = std::filesystem::absolute(s.footage).string();
        if (!given && !std::filesystem::exists(s.footage + "/rig.json")) {
            Korvane::MakeRig::RigOptions o;
            o.outDir = s.footage;
            o.frames = kFrames;
            o.truth = false;
            o.target = true;
            o.seed = s.seed;
            Korvane::MakeRig::RigGenerator(o).run(&std::cout);
        }
        printQuality(s);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "track_bench: %s\n", e.what());
        return 1;
    }
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
