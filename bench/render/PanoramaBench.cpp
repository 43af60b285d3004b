// SPDX-License-Identifier: Apache-2.0
// One 2048 x 1024 Multi-Band Warped panorama from the 6 cameras (1280 x 960, float RGBA) of
// the default footage, already in memory, with the grids of the main job's analysis:
//  - through the node (render of "main", the panorama cache emptied each time), and a turn
//    of the view on the cached panorama;
//  - its pieces: each camera's positions (projection composed with its warp), the
//    resampling, the stitch without and with the vector field;
//  - OpenCV's own pipeline on the same inputs: cv::remap (bilinear, CV_32FC4) through the
//    same positions, then cv::detail::MultiBandBlender with as many bands as ours.
//
//   panorama_bench [--footage DIR] [--script FILE] [--frame N] [benchmark options]
//
// DIR defaults to build/demo/footage and FILE to build/demo/analysed.vireo (scripts/main.sh
// makes both). Peak memory (VmHWM) is printed at the end. "CPU" is the CPU time of every
// thread of the process: on a machine shared with other work it is the steadier figure, and
// divided by the cores it bounds the wall time on an idle machine.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include <OpenImageIO/imageio.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching/detail/blenders.hpp>

#include "analysis/GridMapKnob.h"
#include "external/RigLibrary.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Iop.h"
#include "px/image/Node.h"
#include "px/image/ProcessMemory.h"
#include "render/BlendingKnobs.h"
#include "render/Stitcher.h"
#include "render/kernels/PositionImage.h"
#include "render/kernels/RenderKernels.h"
#include "render/projection/VectorProjectTo.h"
#include "vellacam/RigFile.h"

using namespace PX::Image;
using namespace Korvane::Research;
namespace IP = Kiln::ImageProjection;
namespace IS = Kiln::ImageStitcher;

namespace {

std::string g_footage = "build/demo/footage", g_script = "build/demo/analysed.vireo";
int g_frame = 6;
constexpr int kW = 2048, kH = 1024;

/// The cameras of the footage at one frame, held in memory, with the rig in its metadata.
class MemoryRig : public PlanarIop {
public:
    explicit MemoryRig(Node* node) : PlanarIop(node) {}
    const char* Class() const override { return "MemoryRig"; }
    int minimum_inputs() const override { return 0; }
    int maximum_inputs() const override { return 0; }
    void _validate(bool) override {
        info_().set(Box(0, 0, width, height));
        info_().format(Format(width, height));
        info_().full_size_format(Format(width, height));
        info_().channels(Mask_RGBA);
        info_().first_frame(1);
        info_().last_frame(10);
    }
    void renderPlane(ImagePlane& plane) override {
        const auto it = images.find(Views::name(outputContext().view()));
        if (it == images.end()) return;
        // Channel by channel and row by row: a source standing for a host's cache should not
        // weigh on the node's figure with per-pixel channel look-ups.
        const Box& b = plane.bounds();
        const std::ptrdiff_t cs = plane.colStride();
        for (Channel c : plane.channels()) {
            const int z = plane.chanNo(c);
            if (c < Chan_Red || c > Chan_Alpha) {  // the footage is RGBA only
                for (int y = b.y(); y < b.t(); ++y)
                    for (int x = b.x(); x < b.r(); ++x) *plane.writableAt(x, y, z) = 0.0f;
                continue;
            }
            for (int y = b.y(); y < b.t(); ++y) {
                const float* in =
                    &it->second[(size_t(y) * width + b.x()) * 4 + size_t(c - Chan_Red)];
                float* out = plane.writableAt(b.x(), y, z);
                for (int x = b.x(); x < b.r(); ++x, in += 4, out += cs) *out = *in;
            }
        }
    }
    MetaData::Bundle _fetchMetaData(const std::string&) override { return bundle; }

    int width = 0, height = 0;
    std::map<std::string, std::vector<float>> images;  // RGBA, rows up
    MetaData::Bundle bundle;
};

const Op::Description kMemoryRig("MemoryRig", [](Node* n) -> Op* { return new MemoryRig(n); });

struct Scene {
    std::unique_ptr<Node> source, node;
    DizuvaRuviPlugin* op = nullptr;
    CameraRigDefinition rig;
    std::vector<Kiln::Image> cameras;  // RGBA inputs
    // Per camera, as the node projects it: over each part of the panorama where it can show
    // (two across the longitude seam) the positions (panorama -> input, warped) and the
    // resampled pixels, and those put together over the camera's box for the stitcher.
    std::vector<std::vector<Kiln::Image>> positions, pieces;
    std::vector<Kiln::Image> projected;  // premultiplied RGBA in the panorama
    std::vector<std::pair<int, int>> links;
    int smallest = 16;
    bool ok = false;
    // What the pieces start from, made on first need (any benchmark may run alone).
    bool rendered = false, positioned = false, resampled = false;
};

std::vector<float> readRows(const std::string& path, int* w, int* h) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw std::runtime_error(path + ": " + OIIO::geterror());
    *w = in->spec().width, *h = in->spec().height;
    const int n = in->spec().nchannels;
    std::vector<float> file(size_t(*w) * *h * n), rgba(size_t(*w) * *h * 4, 1.0f);
    in->read_image(0, 0, 0, n, OIIO::TypeDesc::FLOAT, file.data());
    for (int y = 0; y < *h; ++y)  // files store the top row first; pixels go up
        for (int x = 0; x < *w; ++x)
            for (int c = 0; c < std::min(n, 4); ++c)
                rgba[(size_t(*h - 1 - y) * *w + x) * 4 + c] = file[(size_t(y) * *w + x) * n + c];
    return rgba;
}

Scene& scene() {
    static Scene s = [] {
        Scene s;
        std::ifstream script(g_script);
        std::string line, gridText;
        while (std::getline(script, line))
            if (line.rfind("    gridMap ", 0) == 0) gridText = unquoteScriptText(line.substr(12));
        if (gridText.empty()) {
            std::cerr << "panorama_bench: no gridMap in " << g_script
                      << " (run scripts/main.sh first)\n";
            return s;
        }
        std::vector<std::string> views{"main"};
        MetaData::Bundle bundle;
        ReadRigFile(g_footage + "/rig.json", &bundle);
        MetaDataHandler handler;
        handler.updateMetaDataBundle(bundle);
        s.rig = handler.getRig();
        for (int c = 0; c < s.rig.getNumberCameras(); ++c)
            views.push_back("cam" + std::to_string(c + 1));
        Views::setNames(views);
        s.source = Node::create("MemoryRig", "Memory1");
        auto* src = static_cast<MemoryRig*>(s.source->op());
        src->bundle = bundle;
        for (int c = 0; c < s.rig.getNumberCameras(); ++c) {
            char name[64];
            std::snprintf(name, sizeof name, "/cam%d.%04d.exr", c + 1, g_frame);
            src->images[views[size_t(c + 1)]] =
                readRows(g_footage + name, &src->width, &src->height);
        }
        s.node = Node::create("V_DizuvaRuvi", "DizuvaRuvi1");
        s.node->setInput(0, s.source.get());
        s.node->setKnobFromUser("blendType", "Multi-Band");
        s.node->setKnobFromUser("outputMode", "Warped");
        s.node->knob("gridMap")->from_script(gridText.c_str());
        s.op = static_cast<DizuvaRuviPlugin*>(s.node->op());
        // As the host does before a render: "Auto" convergence takes the rig's depth, the one
        // the main job's Warp solved at.
        s.node->setUIContext(OutputContext(g_frame, Views::find("main")));
        s.op->doPreValidate();

        // The pieces, as the renderer chains them.
        for (int c = 0; c < s.rig.getNumberCameras(); ++c) {
            Kiln::Image input(Kiln::Info{Kiln::Box{0, 0, src->width, src->height}, 4}, nullptr);
            for (int y = 0; y < src->height; ++y)
                std::copy_n(&src->images[views[size_t(c + 1)]][size_t(y) * src->width * 4],
                            src->width * 4,
                            reinterpret_cast<float*>(input.row(y)));
            s.cameras.push_back(input);
            for (int b : s.rig.getLinks(c))
                if (b > c) s.links.emplace_back(c, b);
        }
        s.smallest = BlendingKnobs::smallestLevelSize(kW, kH, 0.125f);
        s.ok = true;
        return s;
    }();
    return s;
}

void renderMain(Scene& s) {
    OutputContext c(g_frame, Views::find("main"));
    s.op->setOutputContext(c);
    s.node->storeKnobs(c);
    s.op->validate();
    ImagePlane plane = s.op->fetchPlane(s.op->info().box(), Mask_RGBA);
    if (!plane.hasBuffer()) throw std::runtime_error(s.op->errorMessage());
    benchmark::DoNotOptimize(plane.readable());
}

// The node rendered once: its renderer then holds the rig's projected positions.
void ensureRendered(Scene& s) {
    if (s.rendered) return;
    renderMain(s);
    s.rendered = true;
}

void BM_NodeWarpedMultiBand(benchmark::State& state) {
    Scene& s = scene();
    if (!s.ok) return state.SkipWithError("no footage");
    ensureRendered(s);  // the position images of the rig are made once per process
    for (auto _ : state) {
        s.op->renderDispatcher().clearPanoramaCache();
        renderMain(s);
    }
}

// Argument 0: the view pans sideways (about the vertical axis only, the kernel's row-shift
// path); 1: it also tilts by 20 degrees (the general turn); 2 and 3: the same through a
// rectilinear and a fisheye virtual camera.
void BM_NodeViewTurnOnCachedPanorama(benchmark::State& state) {
    Scene& s = scene();
    if (!s.ok) return state.SkipWithError("no footage");
    auto* angles = static_cast<ArrayKnob*>(s.node->knob("rotationAngles"));
    angles->set_value(state.range(0) ? 20.0 : 0.0, 0);
    const char* const kProjections[] = {"Spherical", "Spherical", "Rectilinear", "Fisheye"};
    s.node->setKnobFromUser("projectionType", kProjections[state.range(0)]);
    renderMain(s);
    s.rendered = true;
    double angle = 0;
    for (auto _ : state) {
        angle += 1.0;
        angles->set_value(angle, 1);
        renderMain(s);
    }
    angles->set_value(0.0, 0);
    angles->set_value(0.0, 1);
    s.node->setKnobFromUser("projectionType", "Spherical");
}

IS::Stitcher configured(const Scene& s) {
    IS::Stitcher st;
    st.setOutputBox(Kiln::Box{0, 0, kW, kH});
    st.setVectorDetail(0.4f);
    st.setBlendType(IS::BlendType::MultiBand);
    st.setSmallestLevelSize(s.smallest);
    return st;
}

// Each camera's positions as the node makes them: where it can show (from a grid of rays),
// the projection warped straight from the grid.
void positionsOfAll(Scene& s) {
    auto& renderer = s.op->renderDispatcher().renderer();
    const IS::Stitcher st = configured(s);
    s.positions.resize(s.cameras.size());
    s.pieces.resize(s.cameras.size());
    s.projected.resize(s.cameras.size());
    for (size_t c = 0; c < s.cameras.size(); ++c) {
        std::vector<Kiln::Box> bands;
        const Kiln::Box box = st.cameraBox(renderer.panoramaBox(int(c), {kW, kH}, &bands));
        const std::vector<Kiln::Box> parts = renderer.seenParts(bands, box, kW);
        if (s.projected[c].empty() || s.projected[c].box() != box) {
            s.projected[c] = Kiln::Image(Kiln::Info{box, 4}, nullptr);
            s.positions[c].clear();
            s.pieces[c].clear();
            for (const Kiln::Box& b : parts) {  // positions a pixel wider, as the node has them
                const Kiln::Box wider{b.x0 - 1, b.y0 - 1, b.x1 + 1, b.y1 + 1};
                s.positions[c].emplace_back(Kiln::Info{wider.intersect({0, 0, kW, kH}), 2},
                                            nullptr);
                s.pieces[c].emplace_back(Kiln::Info{b, 4}, nullptr);
            }
        }
        for (Kiln::Image& p : s.positions[c])
            renderer.cameraPositions(p, int(c), g_frame, {kW, kH});
    }
}

void resampleAll(Scene& s, Kernels::Filter filter) {
    for (size_t c = 0; c < s.cameras.size(); ++c)
        for (size_t k = 0; k < s.positions[c].size(); ++k)
            Kernels::resample(filter,
                              s.cameras[c],
                              s.positions[c][k],
                              s.pieces[c][k],
                              s.cameras[c].box().width(),
                              s.cameras[c].box().height(),
                              false);
}

void ensurePositions(Scene& s) {
    ensureRendered(s);
    if (s.positioned) return;
    auto& renderer = s.op->renderDispatcher().renderer();
    const auto cpu = Kiln::KilnLibrary::GetCurrentCPUContext();
    renderer.setDevices(cpu, cpu);
    Kiln::AutoContextThreadBinder binder(cpu);
    positionsOfAll(s);
    s.positioned = true;
}

// The cameras projected into the panorama as the node does by default (Cubic).
void ensureProjected(Scene& s) {
    ensurePositions(s);
    if (s.resampled) return;
    resampleAll(s, Kernels::Filter::Cubic);
    for (size_t c = 0; c < s.cameras.size(); ++c) {
        s.projected[c].clear();
        for (const Kiln::Image& piece : s.pieces[c]) s.projected[c].copyFrom(piece);
    }
    s.resampled = true;
}

void BM_PiecePositionsWithWarp(benchmark::State& state) {
    Scene& s = scene();
    if (!s.ok) return state.SkipWithError("no footage");
    ensurePositions(s);
    const auto cpu = Kiln::KilnLibrary::GetCurrentCPUContext();
    Kiln::AutoContextThreadBinder binder(cpu);
    for (auto _ : state) positionsOfAll(s);
    double area = 0;
    for (const auto& parts : s.positions)
        for (const Kiln::Image& p : parts) area += double(p.box().width()) * p.box().height();
    state.counters["projectedShare"] = area / (double(kW) * kH * double(s.positions.size()));
}

void BM_PieceResampleCubic(benchmark::State& state) {
    Scene& s = scene();
    if (!s.ok) return state.SkipWithError("no footage");
    ensurePositions(s);
    for (auto _ : state) resampleAll(s, Kernels::Filter(state.range(0)));
}

void stitch(Scene& s, bool linked) {
    IS::Stitcher st = configured(s);
    std::vector<int> list;
    for (size_t c = 0; c < s.projected.size(); ++c) {
        st.setCameraImage(int(c), s.projected[c]);
        list.push_back(int(c));
    }
    st.setCameraList(list);
    if (linked) st.setLinks(s.links);
    st.build();
    benchmark::DoNotOptimize(st.panorama().origin());
}

void BM_PieceStitchMultiBand(benchmark::State& state) {
    Scene& s = scene();
    if (!s.ok) return state.SkipWithError("no footage");
    ensureProjected(s);
    for (auto _ : state) stitch(s, state.range(0) != 0);
}

// OpenCV: remap through the same positions, then its multi-band blender.
void BM_OpenCvRemapAndMultiBand(benchmark::State& state) {
    Scene& s = scene();
    if (!s.ok) return state.SkipWithError("no footage");
    ensurePositions(s);
    std::vector<cv::Mat> mapX, mapY, src;
    for (size_t c = 0; c < s.cameras.size(); ++c) {
        const int w = s.cameras[c].box().width(), h = s.cameras[c].box().height();
        cv::Mat image(h, w, CV_32FC4);
        for (int y = 0; y < h; ++y)
            std::copy_n(
                reinterpret_cast<const float*>(s.cameras[c].row(y)), w * 4, image.ptr<float>(y));
        src.push_back(image);
        // Full-size maps (the blender takes whole panoramas), nothing beyond the camera's parts.
        cv::Mat mx(kH, kW, CV_32F, cv::Scalar(-1e4f)), my(kH, kW, CV_32F, cv::Scalar(-1e4f));
        for (const Kiln::Image& part : s.positions[c]) {
            const Kiln::Box& b = part.box();
            for (int y = b.y0; y < b.y1; ++y) {
                const float* p = reinterpret_cast<const float*>(part.row(y)) - 2 * b.x0;
                for (int x = b.x0; x < b.x1; ++x) {
                    const bool in = Kernels::isSample(p[2 * x]);
                    mx.at<float>(y, x) = in ? p[2 * x] - 0.5f : -1e4f;  // OpenCV: centres at 0
                    my.at<float>(y, x) = in ? p[2 * x + 1] - 0.5f : -1e4f;
                }
            }
        }
        mapX.push_back(mx), mapY.push_back(my);
    }
    int bands = 0;
    for (int side = std::min(kW, kH); side / 2 >= s.smallest; side /= 2) ++bands;
    for (auto _ : state) {
        cv::detail::MultiBandBlender blender(false, bands, CV_32F);
        blender.prepare(cv::Rect(0, 0, kW, kH));
        for (size_t c = 0; c < src.size(); ++c) {
            cv::Mat warped, rgb, mask;
            cv::remap(src[c], warped, mapX[c], mapY[c], cv::INTER_LINEAR, cv::BORDER_CONSTANT);
            std::vector<cv::Mat> ch;
            cv::split(warped, ch);
            cv::merge(std::vector<cv::Mat>{ch[0], ch[1], ch[2]}, rgb);
            cv::Mat rgb16;
            rgb.convertTo(rgb16, CV_16SC3, 255.0);
            mask = ch[3] > 0.5f;
            blender.feed(rgb16, mask, cv::Point(0, 0));
        }
        cv::Mat result, resultMask;
        blender.blend(result, resultMask);
        benchmark::DoNotOptimize(result.data);
    }
}

}  // namespace

BENCHMARK(BM_NodeWarpedMultiBand)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BM_NodeViewTurnOnCachedPanorama)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK(BM_PiecePositionsWithWarp)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_PieceResampleCubic)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_PieceStitchMultiBand)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_OpenCvRemapAndMultiBand)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinTime(2.0);

int main(int argc, char** argv) {
    PX::Image::keepFreedMemory();  // as the host does (vireo's main)
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--footage" && i + 1 < argc)
            g_footage = argv[++i];
        else if (a == "--script" && i + 1 < argc)
            g_script = argv[++i];
        else if (a == "--frame" && i + 1 < argc)
            g_frame = std::stoi(argv[++i]);
        else
            rest.push_back(argv[i]);
    }
    int n = int(rest.size());
    benchmark::Initialize(&n, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM", 0) == 0) std::cout << "peak memory: " << line.substr(6) << "\n";
    return 0;
}
