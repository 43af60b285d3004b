// SPDX-License-Identifier: Apache-2.0
// turn_quality: how much a view of a panorama aliases.
//
//   turn_quality PANO OUT_PREFIX [--lens spherical|rectilinear|fisheye] [--fov DEGREES]
//                [--size WxH] [--tilt DEGREES] [--yaw DEGREES] [--filter 0..3] [--super K]
//
// Renders the view of the panorama PANO (any image the image library reads, RGB(A)) that the
// node's viewer shows: the panorama turned (spherical, the default), or seen through a
// rectilinear or equidistant fisheye lens of FOV degrees across the width (default 120 and
// 200) from the rig centre, tilted up by --tilt and turned by --yaw (degrees). The reference
// is the same view rendered K times larger (default 4) and averaged over K x K blocks: many
// samples per pixel, box-filtered. Prints the PSNR of the view against the reference (RGB,
// over the pixels that show something) and the finest band's power (luma less its Gaussian
// blur of 1 pixel) against the reference's: aliasing adds power there (ratio above 1) that a
// box filter does not have, and a checksum of the view's floats (to compare builds). Writes
// OUT_PREFIX.view.png and OUT_PREFIX.reference.png.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "ViewImages.h"
#include "kiln/Image.h"
#include "render/kernels/RenderKernels.h"

namespace K = Korvane::Research::Kernels;

namespace {

struct View {
    std::string lens = "spherical";
    double fov = 0, tilt = 0, yaw = 0;
    int width = 1024, height = 512;
    K::Filter filter = K::Filter::Cubic;
};

// The view at `scale` times its size.
Kiln::Image render(const Kiln::Image& pano, const View& v, int scale) {
    constexpr double kPi = 3.14159265358979323846;
    const int w = v.width * scale, h = v.height * scale;
    Kiln::Image out = allocate(w, h);
    // Camera to panorama: yaw about +Y after a tilt about -X (up).
    const double t = -v.tilt * kPi / 360.0, a = v.yaw * kPi / 360.0;
    const K::Quaternion q{float(std::cos(a) * std::cos(t)),
                          float(std::cos(a) * std::sin(t)),
                          float(std::sin(a) * std::cos(t)),
                          float(-std::sin(a) * std::sin(t))};
    if (v.lens == "spherical") {
        K::rotateLatlong(pano, out, q, v.filter);
        return out;
    }
    K::IdealLens lens;
    const double half = 0.5 * v.fov * kPi / 180.0;
    if (v.lens == "fisheye") {
        lens.type = K::IdealLens::Type::Fisheye;
        lens.focal = float(0.5 * w / half);
    } else {
        lens.focal = float(0.5 * w / std::tan(half));
    }
    lens.centreX = 0.5f * float(w);
    lens.centreY = 0.5f * float(h);
    K::lookThrough(pano, out, q, lens, v.filter);
    return out;
}

// FNV-1a over the view's bytes.
unsigned long long checksum(const Kiln::Image& image) {
    unsigned long long h = 14695981039346656037ull;
    for (int y = 0; y < image.box().height(); ++y) {
        const auto* p = reinterpret_cast<const unsigned char*>(at(image, 0, y));
        for (int i = 0; i < 16 * image.box().width(); ++i) h = (h ^ p[i]) * 1099511628211ull;
    }
    return h;
}

cv::Mat luma(const Kiln::Image& image) {
    const int w = image.box().width(), h = image.box().height();
    cv::Mat m(h, w, CV_32F);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float* p = at(image, x, y);
            m.at<float>(y, x) = 0.2126f * p[0] + 0.7152f * p[1] + 0.0722f * p[2];
        }
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: turn_quality PANO OUT_PREFIX [--lens L] [--fov D] [--size WxH] "
                     "[--tilt D] [--yaw D] [--filter F] [--super K]\n";
        return 2;
    }
    View v;
    int super = 4;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--lens" &&
            (value == "spherical" || value == "rectilinear" || value == "fisheye"))
            v.lens = value;
        else if (option == "--fov")
            v.fov = std::atof(value.c_str());
        else if (option == "--tilt")
            v.tilt = std::atof(value.c_str());
        else if (option == "--yaw")
            v.yaw = std::atof(value.c_str());
        else if (option == "--filter")
            v.filter = K::Filter(std::atoi(value.c_str()));
        else if (option == "--super")
            super = std::max(1, std::atoi(value.c_str()));
        else if (!(option == "--size" &&
                   std::sscanf(value.c_str(), "%dx%d", &v.width, &v.height) == 2)) {
            std::cerr << "turn_quality: " << option << " " << value << ": not understood\n";
            return 2;
        }
    }
    if (v.fov == 0) v.fov = v.lens == "fisheye" ? 200 : 120;
    if (v.width <= 0 || v.height <= 0 ||
        !(v.fov > 0 && v.fov < (v.lens == "fisheye" ? 361 : 180))) {
        std::cerr << "turn_quality: --size " << v.width << "x" << v.height << " --fov " << v.fov
                  << ": the size must be positive, the field of view below 180 degrees "
                     "(rectilinear) or up to 360 (fisheye)\n";
        return 2;
    }
    try {
        const Kiln::Image pano = readImage(argv[1]);
        const Kiln::Image view = render(pano, v, 1);
        const Kiln::Image large = render(pano, v, super);
        Kiln::Image reference = allocate(v.width, v.height);
        for (int y = 0; y < v.height; ++y)
            for (int x = 0; x < v.width; ++x)
                for (int j = 0; j < super; ++j)
                    for (int i = 0; i < super; ++i)
                        for (int c = 0; c < 4; ++c)
                            at(reference, x, y)[c] +=
                                at(large, x * super + i, y * super + j)[c] / float(super * super);
        double error = 0;
        long count = 0;
        for (int y = 0; y < v.height; ++y)
            for (int x = 0; x < v.width; ++x) {
                if (at(reference, x, y)[3] < 0.999f) continue;  // the lens's rim and beyond
                for (int c = 0; c < 3; ++c)
                    error += std::pow(double(at(view, x, y)[c] - at(reference, x, y)[c]), 2);
                ++count;
            }
        cv::Mat a = luma(view), b = luma(reference), blurA, blurB;
        cv::GaussianBlur(a, blurA, {0, 0}, 1.0);
        cv::GaussianBlur(b, blurB, {0, 0}, 1.0);
        const double fineA = cv::norm(a - blurA, cv::NORM_L2SQR);
        const double fineB = cv::norm(b - blurB, cv::NORM_L2SQR);
        std::printf(
            "%s fov %.0f %dx%d tilt %.0f filter %d: PSNR %.2f dB over %ld px, fine "
            "band %.3f of the reference's, checksum %016llx\n",
            v.lens.c_str(),
            v.fov,
            v.width,
            v.height,
            v.tilt,
            int(v.filter),
            10.0 * std::log10(3.0 * double(count) / std::max(error, 1e-30)),
            count,
            fineA / std::max(fineB, 1e-30),
            checksum(view));
        writePng(std::string(argv[2]) + ".view.png", view);
        writePng(std::string(argv[2]) + ".reference.png", reference);
    } catch (const std::exception& e) {
        std::cerr << "turn_quality: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
