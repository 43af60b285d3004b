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

#include "ViewImages.h"
#include "kiln/Image.h"
#include "render/projection/ProjectFrom.h"
#include "render/projection/ProjectTo.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigFile.h"

using namespace Kiln::ImageProjection;

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
