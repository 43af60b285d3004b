// SPDX-License-Identifier: Apache-2.0
// Six cameras of the bundled default rig (fisheye, 1280 x 960, RGBA float) projected into a
// 2048 x 1024 panorama each, as the stitcher receives them: our projection with the position
// images already cached, per filter (the cameras shrink about twice into the panorama: the
// resampler widens its filter there), against OpenCV's cv::remap (bilinear, CV_32FC4, float maps
// of the same positions precomputed once) on the same inputs and outputs. Also the cost of
// computing one position image, and the memory the cache holds. Both sides use every core.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "SyntheticRig.h"
#include "kiln/Image.h"
#include "render/kernels/PositionImage.h"
#include "render/kernels/RenderKernels.h"
#include "render/projection/PositionImageCache.h"
#include "render/projection/ProjectTo.h"

namespace {

using namespace Kiln::ImageProjection;
namespace K = Korvane::Research::Kernels;

constexpr int kPanoWidth = 2048, kPanoHeight = 1024;

Kiln::Image allocate(int width, int height, int channels) {
    Kiln::Info info;
    info.box = Kiln::Box{0, 0, width, height};
    info.channels = channels;
    return Kiln::Image(info, nullptr, {}, Kiln::Image::kClearOnAllocate);
}

cv::Mat matOf(const Kiln::Image& image, int type) {
    return cv::Mat(image.box().height(),
                   image.box().width(),
                   type,
                   image.origin(),
                   std::size_t(image.rowBytes()));
}

struct Scene {
    std::vector<Kiln::Image> cameras, panoramas;
    std::vector<ProjectTo> projections;
    std::vector<cv::Mat> mapX, mapY;

    Scene() {
        const Korvane::MakeRig::SyntheticRig rig{Korvane::MakeRig::RigOptions()};
        const auto& definition = rig.definition();
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> value(0.0f, 1.0f);
        for (int c = 0; c < definition.getNumberCameras(); ++c) {
            const auto& camera = definition.getCamera(c);
            const int w = camera.getFormatWidth(), h = camera.getFormatHeight();
            Kiln::Image image = allocate(w, h, 4);
            float* p = reinterpret_cast<float*>(image.origin());
            for (int y = 0; y < h; ++y, p = reinterpret_cast<float*>(image.row(y)))
                for (int x = 0; x < 4 * w; ++x) p[x] = (x % 4 == 3) ? 1.0f : value(rng);
            cameras.push_back(image);
            panoramas.push_back(allocate(kPanoWidth, kPanoHeight, 4));
            ProjectTo projection(2);
            projection.records().camera = cameraRecord(camera);
            projection.records().lens = lensRecord(camera);
            projection.records().parallax.depth = float(rig.convergence());
            projection.setSourceSize({w, h});
            projections.push_back(projection);
            // The same positions as OpenCV maps: its pixel centres sit on integers and its row
            // 0 is our first row in memory; our "nothing" becomes a point outside the image.
            const Kiln::Image positions = PositionImageCache::instance()->positions(
                projectionScalars(
                    projection.records(), false, false, {w, h}, {kPanoWidth, kPanoHeight}),
                image.device());
            cv::Mat mx(kPanoHeight, kPanoWidth, CV_32F), my(kPanoHeight, kPanoWidth, CV_32F);
            for (int y = 0; y < kPanoHeight; ++y) {
                const float* q = reinterpret_cast<const float*>(positions.row(y));
                for (int x = 0; x < kPanoWidth; ++x) {
                    const bool has = K::isSample(q[2 * x]);
                    mx.at<float>(y, x) = has ? q[2 * x] - 0.5f : -10.0f;
                    my.at<float>(y, x) = has ? q[2 * x + 1] - 0.5f : -10.0f;
                }
            }
            mapX.push_back(mx);
            mapY.push_back(my);
        }
    }
};

Scene& scene() {
    static Scene s;
    return s;
}

void BM_ProjectSixCameras(benchmark::State& state) {
    Scene& s = scene();
    const Filter filter = Filter(state.range(0));
    for (auto _ : state)
        for (std::size_t c = 0; c < s.cameras.size(); ++c) {
            s.projections[c].setFilter(filter);
            s.projections[c].run(s.panoramas[c], s.cameras[c], {kPanoWidth, kPanoHeight});
        }
    state.counters["cache_MB"] = double(PositionImageCache::instance()->bytes()) / (1 << 20);
    state.counters["cache_entries"] = double(PositionImageCache::instance()->entries());
}
BENCHMARK(BM_ProjectSixCameras)
    ->ArgName("filter")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_CvRemapSixCameras(benchmark::State& state) {
    Scene& s = scene();
    cv::setNumThreads(int(std::thread::hardware_concurrency()));
    for (auto _ : state)
        for (std::size_t c = 0; c < s.cameras.size(); ++c) {
            cv::Mat out = matOf(s.panoramas[c], CV_32FC4);
            cv::remap(matOf(s.cameras[c], CV_32FC4),
                      out,
                      s.mapX[c],
                      s.mapY[c],
                      cv::INTER_LINEAR,
                      cv::BORDER_CONSTANT,
                      cv::Scalar::all(0));
        }
}
BENCHMARK(BM_CvRemapSixCameras)->Unit(benchmark::kMillisecond)->UseRealTime();

// The resampling benchmarks' settings: Bilinear, Cubic and Lanczos, process CPU time.
void resampleFilters(benchmark::internal::Benchmark* b) {
    b->ArgName("filter")
        ->Arg(0)
        ->Arg(1)
        ->Arg(2)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
}

// A warped camera view: one camera through positions that move each pixel by a few pixels,
// smoothly (a mesh warp's size), as the camera views are rendered. No pixel's footprint
// shrinks past the point where the filter widens, so this is the resampler's own path plus
// the footprint test. Argument: the filter.
void BM_ResampleNearIdentity(benchmark::State& state) {
    Scene& s = scene();
    const Kiln::Image& camera = s.cameras[0];
    const int w = camera.box().width(), h = camera.box().height();
    Kiln::Image positions = allocate(w, h, 2), out = allocate(w, h, 4);
    for (int y = 0; y < h; ++y) {
        float* p = reinterpret_cast<float*>(positions.row(y));
        for (int x = 0; x < w; ++x) {
            p[2 * x] = float(x) + 0.5f + 4.0f * std::sin(0.004f * float(x + 2 * y));
            p[2 * x + 1] = float(y) + 0.5f + 3.0f * std::cos(0.005f * float(2 * x - y));
        }
    }
    for (auto _ : state) K::resample(Filter(state.range(0)), camera, positions, out, w, h, false);
}
BENCHMARK(BM_ResampleNearIdentity)->Apply(resampleFilters);

// A strongly shrunk camera: one lens of a 5.7k dual fisheye (2880 x 2880, equidistant, 190
// degrees across its image circle) resampled into a 2048 x 1024 panorama, where one panorama
// pixel spans about 2.7 of the lens's at its centre, more towards its rim. Argument: the
// filter.
void BM_ResampleShrunkFisheye(benchmark::State& state) {
    constexpr int kSize = 2880;
    constexpr double kPi = 3.14159265358979323846, kHalfField = 95.0 * kPi / 180.0;
    static const Kiln::Image lens = [] {
        Kiln::Image image = allocate(kSize, kSize, 4);
        std::mt19937 rng(2);
        std::uniform_real_distribution<float> value(0.0f, 1.0f);
        for (int y = 0; y < kSize; ++y) {
            float* p = reinterpret_cast<float*>(image.row(y));
            for (int x = 0; x < 4 * kSize; ++x) p[x] = (x % 4 == 3) ? 1.0f : value(rng);
        }
        return image;
    }();
    static const Kiln::Image positions = [] {
        Kiln::Image image = allocate(kPanoWidth, kPanoHeight, 2);
        for (int y = 0; y < kPanoHeight; ++y) {
            float* p = reinterpret_cast<float*>(image.row(y));
            const double lat = kPi / 2 - (y + 0.5) * kPi / kPanoHeight;
            for (int x = 0; x < kPanoWidth; ++x) {
                const double lon = (x + 0.5) * 2 * kPi / kPanoWidth - kPi;
                const double dx = std::cos(lat) * std::sin(lon), dy = std::sin(lat),
                             dz = std::cos(lat) * std::cos(lon);
                const double theta = std::acos(std::clamp(dz, -1.0, 1.0)), phi = std::atan2(dy, dx);
                const double r = theta / kHalfField * (kSize / 2);
                const bool seen = theta < kHalfField;
                p[2 * x] = seen ? float(kSize / 2 + r * std::cos(phi)) : K::kNoSample;
                p[2 * x + 1] = seen ? float(kSize / 2 - r * std::sin(phi)) : K::kNoSample;
            }
        }
        return image;
    }();
    Kiln::Image out = allocate(kPanoWidth, kPanoHeight, 4);
    for (auto _ : state)
        K::resample(Filter(state.range(0)), lens, positions, out, kSize, kSize, false);
}
BENCHMARK(BM_ResampleShrunkFisheye)->Apply(resampleFilters);

// One camera's position image, computed afresh (what the cache saves on every later frame).
void BM_PositionImage(benchmark::State& state) {
    Scene& s = scene();
    Kiln::Image positions = allocate(kPanoWidth, kPanoHeight, 2);
    const auto scalars = projectionScalars(s.projections[0].records(),
                                           false,
                                           false,
                                           s.projections[0].sourceSize(),
                                           {kPanoWidth, kPanoHeight});
    for (auto _ : state) K::projectPositions(positions, scalars);
}
BENCHMARK(BM_PositionImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The spherical view: the whole panorama turned by a view rotation. Arguments: the filter;
// 0 for a general turn, 1 for a sideways one (about the vertical axis only: rows shift).
void BM_RotatePanorama(benchmark::State& state) {
    Scene& s = scene();
    Kiln::Image out = allocate(kPanoWidth, kPanoHeight, 4);
    const Quaternion q = state.range(1) ? Quaternion{0.96f, 0.0f, 0.28f, 0.0f}
                                        : Quaternion{0.96f, 0.1f, 0.25f, 0.05f};
    for (auto _ : state) K::rotateLatlong(s.panoramas[0], out, q, Filter(state.range(0)));
}
BENCHMARK(BM_RotatePanorama)
    ->Args({int(Filter::Bilinear), 0})
    ->Args({int(Filter::Cubic), 0})
    ->Args({int(Filter::Bilinear), 1})
    ->Args({int(Filter::Cubic), 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// Views of the panorama, Cubic, tilted 20 degrees: 0, the viewer's default rectilinear look
// (2048 x 1024, 16 mm on a 36 mm sensor: about 100 degrees across), where no pixel shrinks the
// panorama; 1, a fisheye of the whole sphere into 1024 x 1024, about 2 panorama pixels a view
// pixel; 2, the panorama turned into 1024 x 512, half its size. Where a view shrinks the
// panorama, its filter widens.
void BM_LookAround(benchmark::State& state) {
    Scene& s = scene();
    const int view = int(state.range(0));
    const bool small = view > 0;
    Kiln::Image out = allocate(small ? 1024 : 2048, view == 1 ? 1024 : small ? 512 : 1024, 4);
    const Quaternion q{0.9848f, -0.1736f, 0.0f, 0.0f};
    K::IdealLens lens;
    lens.type = view == 1 ? K::IdealLens::Type::Fisheye : K::IdealLens::Type::Rectilinear;
    lens.focal = view == 1 ? 512.0f / 3.14159265f : 16.0f * 2048.0f / 36.0f;
    lens.centreX = 0.5f * float(out.box().width());
    lens.centreY = 0.5f * float(out.box().height());
    for (auto _ : state)
        if (view == 2)
            K::rotateLatlong(s.panoramas[0], out, q, Filter::Cubic);
        else
            K::lookThrough(s.panoramas[0], out, q, lens, Filter::Cubic);
}
BENCHMARK(BM_LookAround)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
