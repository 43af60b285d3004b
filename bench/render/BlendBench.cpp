// SPDX-License-Identifier: Apache-2.0
// Multi-band blending of 6 cameras projected into a 2048 x 1024 panorama (float RGBA with
// their footprints): ours against OpenCV's MultiBandBlender with the same number of bands (fed
// each camera's footprint rectangle) and against the enblend program on the same layers as
// TIFF files (skipped when enblend is not installed); then the vector-field stitch at the
// default vector detail (0.4: an 820 x 410 grid). Peak memory is the process's maximum
// resident size after the benchmark: run one benchmark per process
// (--benchmark_filter) to read it for that benchmark alone.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/stitching/detail/blenders.hpp>

#include "px/image/ProcessMemory.h"
#include "render/Stitcher.h"
#include "render/StitcherKernels.h"
#include "render/VectorFieldStitch.h"

using namespace Kiln::ImageStitcher;

namespace {

constexpr int kWidth = 2048, kHeight = 1024, kCameras = 6;
// Smallest level 16 on 1024 rows: 7 levels, 6 bands.
constexpr int kSmallest = 16, kBands = 6;

struct Layer {
    Kiln::Image image;
    cv::Rect roi;  // the footprint's rectangle (columns may wrap: then the whole width)

    /// The image's pixels over `box` (inside the panorama) as an image of their own.
    Kiln::Image over(const Kiln::Box& box) const {
        const Kiln::Info part{box, 4};
        const std::ptrdiff_t pixel = 4 * sizeof(float);
        return Kiln::Image(Kiln::Tile{part, image.row(box.y0) + box.x0 * pixel, image.rowBytes()});
    }
};

/// Camera c sees 120 degrees of longitude around c * 60 and latitudes -50 .. 50, with a
/// rounded footprint; textured so the pyramids carry real content.
const std::vector<Layer>& layers() {
    static const std::vector<Layer> result = [] {
        std::vector<Layer> out;
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> u(0, 1);
        for (int c = 0; c < kCameras; ++c) {
            Kiln::Info info;
            info.box = {0, 0, kWidth, kHeight};
            info.channels = 4;
            Kiln::Image image(info, nullptr, {}, Kiln::Image::kClearOnAllocate);
            const float centre = (c * 60.0f / 360.0f + 0.5f) * kWidth;
            const float half = kWidth / 3.0f / 2.0f;
            int x0 = kWidth, x1 = 0;
            for (int y = 0; y < kHeight; ++y) {
                float* row = reinterpret_cast<float*>(image.row(y));
                const float lat = (y + 0.5f) / kHeight * 180.0f - 90.0f;
                for (int x = 0; x < kWidth; ++x) {
                    float dx =
                        std::fmod(x + 0.5f - centre + 1.5f * kWidth, float(kWidth)) - kWidth / 2.0f;
                    const float r = std::hypot(dx / half, lat / 50.0f);
                    if (r >= 1.0f) continue;
                    // Lenses that vignette: 1 - 0.3 (dx^2 + dlat^2) toward the rim, for the
                    // compensated runs to fit and remove.
                    const float v = (0.5f + 0.25f * std::sin(0.05f * x + c) * std::cos(0.07f * y) +
                                     0.1f * u(rng)) *
                                    (1.0f - 0.3f * r * r);
                    row[x * 4] = v, row[x * 4 + 1] = 0.8f * v, row[x * 4 + 2] = 0.6f,
                            row[x * 4 + 3] = 1;
                    x0 = std::min(x0, x), x1 = std::max(x1, x);
                }
            }
            const int y0 = kHeight / 2 - int(50.0f / 180.0f * kHeight) - 1;
            const int y1 = kHeight / 2 + int(50.0f / 180.0f * kHeight) + 1;
            const bool wraps = x0 == 0 && x1 == kWidth - 1;
            out.push_back({image,
                           wraps ? cv::Rect(0, y0, kWidth, y1 - y0)
                                 : cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0)});
        }
        return out;
    }();
    return result;
}

double processCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-3;
}

/// Peak memory, and the CPU time of every thread of the process per iteration: on a shared
/// machine the wall time depends on the load, the work done does not.
class Report {
public:
    explicit Report(benchmark::State& state) : m_state(state), m_start(processCpuMs()) {}
    ~Report() {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        m_state.counters["peakMiB"] = double(usage.ru_maxrss) / 1024.0;
        m_state.counters["cpuMs"] =
            (processCpuMs() - m_start) /
            double(std::max<benchmark::IterationCount>(1, m_state.iterations()));
    }

private:
    benchmark::State& m_state;
    double m_start;
};

/// Camera c's axis: longitude c * 60 degrees on the horizon.
std::array<float, 3> axisOf(int c) {
    const double lon = c * 60.0 * M_PI / 180.0;
    return {float(std::sin(lon)), 0.0f, float(std::cos(lon))};
}

/// Without compensation, as OpenCV's blender has none; with it, gains and a vignetting falloff
/// are fitted and removed as the panorama path does.
Stitcher configured(BlendType type, bool compensation = false) {
    Stitcher s;
    s.setOutputBox({0, 0, kWidth, kHeight});
    s.setBlendType(type);
    s.setSmallestLevelSize(kSmallest);
    s.setExpand(true);
    s.setExposureCompensation(compensation);
    std::vector<int> list;
    for (int c = 0; c < kCameras; ++c) {
        // As the node projects a camera: over the stitcher's box of its footprint only.
        const cv::Rect& r = layers()[c].roi;
        s.setCameraImage(c,
                         layers()[c].over(s.cameraBox({r.x, r.y, r.x + r.width, r.y + r.height})));
        s.setCameraAxis(c, axisOf(c));
        list.push_back(c);
    }
    s.setCameraList(list);
    return s;
}

/// Arg 0: a fresh stitcher per frame; arg 1: one stitcher building every frame, so its
/// working images are kept (what a renderer that keeps its stitcher gets); arg 2: kept, with
/// exposure and vignetting compensation.
void runOurs(benchmark::State& state, BlendType type) {
    layers();
    const bool kept = state.range(0) != 0;
    Stitcher reused = configured(type, state.range(0) == 2);
    if (kept) reused.build();  // the first frame allocates
    const Report report(state);
    for (auto _ : state) {
        if (kept) {
            reused.build();
            benchmark::DoNotOptimize(reused.panorama().origin());
        } else {
            Stitcher s = configured(type);
            s.build();
            benchmark::DoNotOptimize(s.panorama().origin());
        }
    }
}

void BM_OurMultiBand(benchmark::State& state) { runOurs(state, BlendType::MultiBand); }
BENCHMARK(BM_OurMultiBand)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OurSphericalMultiBand(benchmark::State& state) {
    runOurs(state, BlendType::SphericalMultiBand);
}
BENCHMARK(BM_OurSphericalMultiBand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCvMultiBand(benchmark::State& state) {
    // Its input: 16-bit signed colour and an 8-bit mask over each footprint rectangle (the
    // conversion is not timed).
    std::vector<cv::Mat> images, masks;
    for (const Layer& l : layers()) {
        cv::Mat rgb(l.roi.height, l.roi.width, CV_16SC3), mask(l.roi.height, l.roi.width, CV_8U);
        for (int y = 0; y < l.roi.height; ++y)
            for (int x = 0; x < l.roi.width; ++x) {
                const float* p =
                    reinterpret_cast<const float*>(l.image.row(l.roi.y + y)) + (l.roi.x + x) * 4;
                rgb.at<cv::Vec3s>(y, x) =
                    cv::Vec3s(short(p[2] * 255), short(p[1] * 255), short(p[0] * 255));
                mask.at<unsigned char>(y, x) = p[3] > 0.5f ? 255 : 0;
            }
        images.push_back(rgb);
        masks.push_back(mask);
    }
    const Report report(state);
    for (auto _ : state) {
        cv::detail::MultiBandBlender blender(false, kBands);
        blender.prepare(cv::Rect(0, 0, kWidth, kHeight));
        for (int c = 0; c < kCameras; ++c) blender.feed(images[c], masks[c], layers()[c].roi.tl());
        cv::Mat result, resultMask;
        blender.blend(result, resultMask);
        benchmark::DoNotOptimize(result.data);
    }
}
BENCHMARK(BM_OpenCvMultiBand)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Enblend(benchmark::State& state) {
    if (std::system("command -v enblend > /dev/null 2>&1") != 0) {
        state.SkipWithError("enblend is not installed");
        for (auto _ : state) {
        }
        return;
    }
    // A folder of this process's own: two benchmark runs at once must not blend each other's
    // layers (one that finds its layers half written times nothing like a blend).
    const auto dir = std::filesystem::temp_directory_path() /
                     ("blend_bench_enblend_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string command =
        "enblend --levels=" + std::to_string(kBands + 1) + " -o " + (dir / "out.tif").string();
    for (int c = 0; c < kCameras; ++c) {
        // 16-bit RGBA layers over the whole panorama, file rows top first.
        cv::Mat layer(kHeight, kWidth, CV_16UC4);
        for (int y = 0; y < kHeight; ++y) {
            const float* row =
                reinterpret_cast<const float*>(layers()[c].image.row(kHeight - 1 - y));
            for (int x = 0; x < kWidth; ++x)
                layer.at<cv::Vec4w>(y, x) = cv::Vec4w(ushort(row[x * 4 + 2] * 65535),
                                                      ushort(row[x * 4 + 1] * 65535),
                                                      ushort(row[x * 4] * 65535),
                                                      ushort(row[x * 4 + 3] * 65535));
        }
        const std::string path = (dir / ("layer" + std::to_string(c) + ".tif")).string();
        cv::imwrite(path, layer);
        command += " " + path;
    }
    command += " > /dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("enblend failed");
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Enblend)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_VectorFieldStitch(benchmark::State& state) {
    // Alpha blending with and without links: the difference is the vector field's time.
    const bool withField = state.range(0) != 0;
    std::vector<std::pair<int, int>> ring;
    for (int c = 0; c < kCameras; ++c) ring.push_back({c, (c + 1) % kCameras});
    layers();
    const Report report(state);
    for (auto _ : state) {
        Stitcher s = configured(BlendType::Alpha);
        s.setVectorDetail(0.4f);
        if (withField) s.setLinks(ring);
        s.build();
        benchmark::DoNotOptimize(s.panorama().origin());
    }
}
BENCHMARK(BM_VectorFieldStitch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The align kernel alone: one camera of the layers resampled through a field on the default
/// vector grid (820 x 410) that shifts it by 0.4 to 2.6 pixels, by a different fraction at
/// every pixel, over its whole footprint (in a build the field is non-zero only in the
/// overlaps, about half of it).
void BM_Align(benchmark::State& state) {
    constexpr int fw = 820, fh = 410;
    const Layer& layer = layers()[0];
    Kiln::Info info;
    info.box = {0, 0, fw, fh};
    info.channels = 2;
    Kiln::Image field(info, nullptr);
    for (int y = 0; y < fh; ++y) {
        float* row = reinterpret_cast<float*>(field.row(y));
        for (int x = 0; x < fw; ++x) {
            row[2 * x] = 1.5f + 1.1f * std::sin(0.05f * float(x) + 0.03f * float(y));
            row[2 * x + 1] = -0.7f + 0.5f * std::cos(0.04f * float(y));
        }
    }
    const Kiln::Box area{
        layer.roi.x, layer.roi.y, layer.roi.x + layer.roi.width, layer.roi.y + layer.roi.height};
    info.box = area;
    info.channels = 4;
    Kiln::Image out(info, nullptr);
    for (auto _ : state) {
        align(layer.image, field, out, float(fw) / kWidth, float(fh) / kHeight, area);
        benchmark::DoNotOptimize(out.origin());
    }
}
BENCHMARK(BM_Align)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The vector-field computation alone, on the default vector grid (820 x 410): 6 cameras in a
/// ring as above, each showing one textured scene moved by its own fraction of a cell (so
/// every linked pair has a small flow to find) with fresh noise, 6 ring links. Arg: the
/// cameras' width in degrees of longitude (120: the layers' 60-degree overlaps; 200: fisheye
/// circles whose overlaps reach around the sphere, 15 links then).
void BM_VectorFields(benchmark::State& state) {
    constexpr int w = 820, h = 410;
    const float span = float(state.range(0));
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 0.004f);
    std::vector<HostImage> cameras;
    for (int c = 0; c < kCameras; ++c) {
        HostImage image(w, h, 4, 0.0f);
        const float centre = (c * 60.0f / 360.0f + 0.5f) * w;
        const float half = w * span / 360.0f / 2.0f;
        const float shift = 0.3f * float(c % 3), lift = 0.2f * float(c % 2);
        for (int y = 0; y < h; ++y) {
            const float lat = (y + 0.5f) / h * 180.0f - 90.0f;
            for (int x = 0; x < w; ++x) {
                const float dx = std::fmod(x + 0.5f - centre + 1.5f * w, float(w)) - w / 2.0f;
                if (std::hypot(dx / half, lat / (span * 50.0f / 120.0f)) >= 1.0f) continue;
                const float u = x + shift, v = y + lift;
                const float value = 0.45f + 0.2f * std::sin(0.31f * u) * std::cos(0.23f * v) +
                                    0.1f * std::sin(0.07f * u + 0.11f * v) + noise(rng);
                for (int k = 0; k < 3; ++k) image.at(x, y, k) = value;
                image.at(x, y, 3) = 1.0f;
            }
        }
        cameras.push_back(std::move(image));
    }
    std::vector<std::pair<int, int>> links;
    for (int a = 0; a < kCameras; ++a)
        for (int b = a + 1; b < kCameras; ++b)
            if (span > 150.0f || b == a + 1 || (a == 0 && b == kCameras - 1))
                links.push_back({a, b});
    const std::vector<std::array<float, 3>> gains(kCameras, {1.0f, 1.0f, 1.0f});
    const Report report(state);
    VectorFieldStats stats;
    for (auto _ : state) {
        const auto fields = computeVectorFields(cameras, gains, links, &stats);
        benchmark::DoNotOptimize(fields.data());
    }
    state.counters["pairs"] = stats.pairs;
}
BENCHMARK(BM_VectorFields)->Arg(120)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The exposure fit with a shared falloff on the layers at the stitcher's analysis size (an
/// eighth per side, every eighth pixel).
void BM_ExposureFit(benchmark::State& state) {
    std::vector<HostImage> analysis;
    std::vector<std::array<float, 3>> axes;
    for (int c = 0; c < kCameras; ++c) {
        HostImage small(kWidth / 8, kHeight / 8, 4);
        for (int y = 0; y < small.height; ++y) {
            const float* row = reinterpret_cast<const float*>(layers()[c].image.row(8 * y + 4));
            for (int x = 0; x < small.width; ++x)
                for (int k = 0; k < 4; ++k) small.at(x, y, k) = row[(8 * x + 4) * 4 + k];
        }
        analysis.push_back(std::move(small));
        axes.push_back(axisOf(c));
    }
    const Report report(state);
    for (auto _ : state) {
        const auto fit = estimateExposure(analysis, axes, VignettingModel::Shared);
        benchmark::DoNotOptimize(fit.data());
    }
}
BENCHMARK(BM_ExposureFit)->Unit(benchmark::kMillisecond)->UseRealTime();

/// Removing a falloff from every camera over its footprint, copied first (what alignedCamera
/// does; the blend divides the falloff out as it reads each camera instead).
void BM_RemoveVignetting(benchmark::State& state) {
    Vignetting v;
    v.a = -0.15f, v.b = -0.02f, v.reach = 1.7f;
    std::vector<Kiln::Image> copies;
    for (int c = 0; c < kCameras; ++c) {
        const cv::Rect& r = layers()[c].roi;
        Kiln::Info info;
        info.box = {r.x, r.y, r.x + r.width, r.y + r.height};
        info.channels = 4;
        copies.emplace_back(info, nullptr);
    }
    const Report report(state);
    for (auto _ : state)
        for (int c = 0; c < kCameras; ++c) {
            copies[c].copyFrom(layers()[c].image);
            removeVignetting(copies[c], Kiln::Box{0, 0, kWidth, kHeight}, axisOf(c), v);
        }
}
BENCHMARK(BM_RemoveVignetting)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // As the host does (vireo's main): both blenders reuse the memory they free, so neither is
    // timed faulting in fresh pages for its images.
    PX::Image::keepFreedMemory();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
