// SPDX-License-Identifier: Apache-2.0
// pano_quality: rendered panoramas against make_rig's true panorama, and the misalignment left
// between overlapping cameras.
//
//   pano_quality TRUTH.exr PANO_A.exr CAMERAS_A/ PANO_B.exr CAMERAS_B/
//                [--heatmap OUT.png [--crop OUT.png]] [--srgb-truth]
//
// CAMERAS_x holds each camera alone in the panorama (cam1.exr ...), premultiplied RGBA, as
// the node renders with `outputView` set to that camera. "Seen" is where at least one camera
// has alpha above one half (the truth covers the whole sphere, the rig does not), "overlaps"
// where two or more do. Prints PSNR (colour) and SSIM (luma) of both panoramas over both, and
// the mean misalignment (largest luma difference between the cameras that see a pixel) in the
// overlaps; the heat map shows A above B. The crop shows A beside B, 1:1, over the 300 x 300
// window where B removed the most misalignment. --srgb-truth: the footage was 8-bit files,
// which the node reads as they are (sRGB-encoded), so the truth is encoded the same way.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "PanoramaQuality.h"

using namespace PanoQuality;

namespace {

std::vector<Picture> cameras(const std::string& folder) {
    std::vector<Picture> list;
    for (int i = 1;; ++i) {
        const std::string path = folder + "/cam" + std::to_string(i) + ".exr";
        if (!std::filesystem::exists(path)) break;
        list.push_back(readPicture(path));
    }
    if (list.empty()) throw std::runtime_error(folder + ": no cam1.exr");
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    const auto flag = std::find(argv + 1, argv + argc, std::string("--srgb-truth"));
    const bool srgbTruth = flag != argv + argc;
    if (srgbTruth) {  // the flag may stand anywhere: move it past the others
        std::rotate(flag, flag + 1, argv + argc);
        --argc;
    }
    if (argc != 6 && argc != 8 && argc != 10) {
        std::cerr << "usage: pano_quality TRUTH.exr PANO_A.exr CAMERAS_A PANO_B.exr CAMERAS_B "
                     "[--heatmap OUT.png [--crop OUT.png]] [--srgb-truth]\n";
        return 2;
    }
    try {
        Picture truth = readPicture(argv[1]);
        if (srgbTruth) encodeSrgb(truth);
        const char* names[2] = {"unwarped", "warped"};
        std::vector<std::vector<float>> maps;
        std::vector<Picture> panos;
        std::vector<bool> overlaps;
        std::vector<std::vector<Picture>> cameraSets;
        std::printf("%-10s %10s %8s %10s %8s %12s\n",
                    "",
                    "seen PSNR",
                    "SSIM",
                    "ovl PSNR",
                    "SSIM",
                    "misalign");
        for (int k = 0; k < 2; ++k) {
            panos.push_back(readPicture(argv[2 + 2 * k]));
            const Picture& pano = panos.back();
            cameraSets.push_back(cameras(argv[3 + 2 * k]));
            const std::vector<Picture>& cams = cameraSets.back();
            const std::vector<int> count = cameraCount(cams);
            std::vector<bool> seen(count.size()), overlap(count.size());
            for (size_t i = 0; i < count.size(); ++i)
                seen[i] = count[i] >= 1, overlap[i] = count[i] >= 2;
            const Scores whole = compare(pano, truth, seen), ovl = compare(pano, truth, overlap);
            maps.push_back(misalignment(cams));
            overlaps = overlap;
            double sum = 0;
            long n = 0;
            for (size_t i = 0; i < overlap.size(); ++i)
                if (overlap[i]) sum += maps.back()[i], ++n;
            std::printf("%-10s %10.2f %8.4f %10.2f %8.4f %12.4f\n",
                        names[k],
                        whole.psnr,
                        whole.ssim,
                        ovl.psnr,
                        ovl.ssim,
                        n ? sum / double(n) : 0.0);
        }
        // Each camera alone against the truth, over the pixels it covers both ways: how well
        // the warp puts every camera's content where it belongs, blending aside.
        if (cameraSets[0].size() == cameraSets[1].size()) {
            std::printf("%-10s %10s %8s %10s %8s\n", "camera", "A PSNR", "SSIM", "B PSNR", "SSIM");
            for (size_t c = 0; c < cameraSets[0].size(); ++c) {
                const Picture& a = cameraSets[0][c];
                const Picture& b = cameraSets[1][c];
                std::vector<bool> both(size_t(truth.width) * truth.height, false);
                for (int y = 0; y < truth.height; ++y)
                    for (int x = 0; x < truth.width; ++x)
                        both[size_t(y) * truth.width + x] =
                            a.at(x, y, 3) > 0.99f && b.at(x, y, 3) > 0.99f;
                const Scores sa = compare(a, truth, both), sb = compare(b, truth, both);
                std::printf("cam%-7zu %10.2f %8.4f %10.2f %8.4f\n",
                            c + 1,
                            sa.psnr,
                            sa.ssim,
                            sb.psnr,
                            sb.ssim);
            }
        }
        if (argc >= 8) writePicture(argv[7], heatMap(maps, truth.width, truth.height, 0.2f, 2));
        if (argc == 10) {
            const int size = std::min({300, truth.width, truth.height});
            const auto at =
                mostImproved(maps[0], maps[1], overlaps, truth.width, truth.height, size);
            writePicture(argv[9], sideBySide(panos[0], panos[1], at.first, at.second, size));
            std::printf("crop at (%d, %d) from the top left, %d x %d, A left, B right\n",
                        at.first,
                        at.second,
                        size,
                        size);
        }
    } catch (const std::exception& e) {
        std::cerr << "pano_quality: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
