// SPDX-License-Identifier: Apache-2.0
// project_view: a rig's footage projected by the node's projection functors, for looking at.
//
//   project_view FOOTAGE_DIR FRAME OUT_PREFIX [--size WxH] [--filter 0..3]
//
// Reads FOOTAGE_DIR/rig.json and the cameras' cam<N>.<FFFF>.exr, projects every camera into
// the panorama (ProjectTo), averages them where they overlap (alpha-weighted, no blending or
// warp), and writes, as 8-bit sRGB PNG: OUT_PREFIX.pano.png (the panorama), .cam1.png (camera 1
// alone, black where it sees nothing), and three views of the panorama through virtual
// cameras (ProjectFrom): .back.png (rectilinear across the seam), .up.png and .down.png
// (180-degree fisheyes at the poles).
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "kiln/Image.h"
#include "render/projection/ProjectFrom.h"
#include "render/projection/ProjectTo.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigFile.h"

using namespace Kiln::ImageProjection;

namespace {

Kiln::Image allocate(int width, int height) {
    Kiln::Info info;
    info.box = Kiln::Box{0, 0, width, height};
    info.channels = 4;
    return Kiln::Image(info, nullptr, {}, Kiln::Image::kClearOnAllocate);
}

float* at(const Kiln::Image& image, int x, int y) {
    return reinterpret_cast<float*>(image.row(y)) + 4 * x;
}

// RGB(A) file, top row first, into RGBA rows from the bottom with alpha 1.
Kiln::Image readImage(const std::string& path) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw std::runtime_error(path + ": " + OIIO::geterror());
    const OIIO::ImageSpec& header = in->spec();
    std::vector<float> pixels(size_t(header.width) * header.height * header.nchannels);
    if (!in->read_image(0, 0, 0, header.nchannels, OIIO::TypeDesc::FLOAT, pixels.data()))
        throw std::runtime_error(path + ": " + in->geterror());
    Kiln::Image image = allocate(header.width, header.height);
    for (int y = 0; y < header.height; ++y)
        for (int x = 0; x < header.width; ++x) {
            const float* p =
                &pixels[(size_t(header.height - 1 - y) * header.width + x) * header.nchannels];
            float* o = at(image, x, y);
            for (int c = 0; c < 3; ++c) o[c] = p[std::min(c, header.nchannels - 1)];
            o[3] = 1.0f;
        }
    return image;
}

void writePng(const std::string& path, const Kiln::Image& image) {
    const int w = image.box().width(), h = image.box().height();
    std::vector<unsigned char> bytes(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const float v = std::clamp(at(image, x, h - 1 - y)[c], 0.0f, 1.0f);
                bytes[(size_t(y) * w + x) * 3 + c] =
                    (unsigned char)std::lround(255.0f * std::pow(v, 1.0f / 2.2f));
            }
    auto out = OIIO::ImageOutput::create(path);
    if (!out || !out->open(path, OIIO::ImageSpec(w, h, 3, OIIO::TypeDesc::UINT8)) ||
        !out->write_image(OIIO::TypeDesc::UINT8, bytes.data()) || !out->close())
        throw std::runtime_error(path + ": cannot write");
    std::cout << "wrote " << path << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: project_view FOOTAGE_DIR FRAME OUT_PREFIX [--size WxH] [--filter F]\n";
        return 2;
    }
    const std::string dir = argv[1], prefix = argv[3];
    const int frame = std::atoi(argv[2]);
    int width = 2048, height = 1024, filter = 0;
    for (int i = 4; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--size" && std::sscanf(argv[i + 1], "%dx%d", &width, &height) == 2) continue;
        if (option == "--filter") {
            filter = std::atoi(argv[i + 1]);
            continue;
        }
        std::cerr << "project_view: " << option << ": not understood\n";
        return 2;
    }
    try {
        PX::Image::MetaData::Bundle bundle;
        Korvane::Research::ReadRigFile(dir + "/rig.json", &bundle);
        Korvane::Research::MetaDataHandler rig;
        rig.updateMetaDataBundle(bundle);
        Kiln::Image pano = allocate(width, height);
        for (int c = 0; c < rig.getNumberCameras(); ++c) {
            const auto camera = rig.getCamera(c);
            char name[64];
            std::snprintf(name, sizeof name, "/cam%d.%04d.exr", c + 1, frame);
            const Kiln::Image input = readImage(dir + name);
            ProjectTo projection(2);
            projection.records().camera = cameraRecord(camera);
            projection.records().lens = lensRecord(camera);
            projection.records().parallax.depth = float(rig.getRigConvergence());
            projection.setSourceSize({camera.getFormatWidth(), camera.getFormatHeight()});
            projection.setFilter(Filter(filter));
            Kiln::Image projected = allocate(width, height);
            projection.run(projected, input, {width, height});
            if (c == 0) writePng(prefix + ".cam1.png", projected);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    for (int k = 0; k < 4; ++k) at(pano, x, y)[k] += at(projected, x, y)[k];
        }
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                float* p = at(pano, x, y);
                if (p[3] > 0.0f)
                    for (int k = 0; k < 4; ++k) p[k] /= p[3];
            }
        writePng(prefix + ".pano.png", pano);
        const struct {
            const char* name;
            int type;
            float focal;
            std::array<float, 3> rotation;
        } views[] = {{"back", 0, 8.0f, {0, 180, 0}},
                     {"up", 1, 7.1f, {-90, 0, 0}},
                     {"down", 1, 7.1f, {90, 0, 0}}};
        for (const auto& v : views) {
            ProjectFrom view(2);
            view.records().camera.projection = v.type;
            view.records().camera.focalLength = v.focal;
            view.records().camera.sensorWidth = 22.3f;
            view.records().camera.rotation = v.rotation;
            view.records().parallax.depth = 0;
            view.setSourceSize({width, height});
            view.setFilter(Filter(filter));
            Kiln::Image out = allocate(640, 640);
            view.run(out, pano, {640, 640});
            writePng(prefix + "." + v.name + ".png", out);
        }
    } catch (const std::exception& e) {
        std::cerr << "project_view: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
