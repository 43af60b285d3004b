// SPDX-License-Identifier: Apache-2.0
// view_seams misalignment A.png B.png [RADIUS]
// view_seams rings VIEW.png RADIUS...
//
// misalignment: two cameras rendered alone into one view (RGBA PNG, alpha where each sees; the
// node with Alpha blending, Expand off, outputView set to each camera). The dense optical flow
// (DIS, medium preset) between their lumas over the box where both fully see; its median and
// 90th percentile in view pixels over the pixels both see within RADIUS pixels of the view's
// centre (8 pixels in from either camera's edge), and their mean luma difference there
// (levels of 255). Exit status 1 when the two share no such pixel.
//
// rings: the luma of a view (blurred by a Gaussian of 2 pixels) at 720 points around each
// circle of RADIUS pixels about the view's centre: its range (largest minus smallest, levels
// of 255). Where the seams between cameras meet at the centre (a pole in a view straight up
// or down), a blend whose colour depends on the direction the centre is approached from keeps
// a range that does not shrink with the radius: a pinched star.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: view_seams misalignment A.png B.png [RADIUS]\n"
                 "       view_seams rings VIEW.png RADIUS...\n");
    return 2;
}

cv::Mat readRgba(const char* path) {
    cv::Mat image = cv::imread(path, cv::IMREAD_UNCHANGED);
    if (image.empty() || image.channels() != 4)
        std::fprintf(stderr, "view_seams: %s is not an RGBA image\n", path);
    return image.channels() == 4 ? image : cv::Mat();
}

int misalignment(const char* pathA, const char* pathB, double radius) {
    const cv::Mat a = readRgba(pathA), b = readRgba(pathB);
    if (a.empty() || b.empty()) return 2;
    if (a.size() != b.size()) {
        std::fprintf(stderr, "view_seams: %s and %s differ in size\n", pathA, pathB);
        return 2;
    }
    std::vector<cv::Mat> ca, cb;
    cv::split(a, ca);
    cv::split(b, cb);
    cv::Mat la, lb;
    cv::cvtColor(a, la, cv::COLOR_BGRA2GRAY);
    cv::cvtColor(b, lb, cv::COLOR_BGRA2GRAY);
    const cv::Mat both = (ca[3] == 255) & (cb[3] == 255);
    cv::Mat inner;
    cv::erode(both, inner, cv::getStructuringElement(cv::MORPH_RECT, {17, 17}));
    const cv::Rect box = cv::boundingRect(both);
    // Over the box both see; where one camera is missing in it, each image shows the other,
    // so that only the shared content drives the flow.
    la.copyTo(lb, ~both & (cb[3] != 255));
    lb.copyTo(la, ~both & (ca[3] != 255));
    cv::Mat flow;
    if (box.area() > 0)
        cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM)
            ->calc(la(box).clone(), lb(box).clone(), flow);
    std::vector<float> length;
    double difference = 0;
    for (int y = box.y; y < box.y + box.height; ++y)
        for (int x = box.x; x < box.x + box.width; ++x) {
            const double dx = x + 0.5 - a.cols / 2.0, dy = y + 0.5 - a.rows / 2.0;
            if (!inner.at<uchar>(y, x) || dx * dx + dy * dy > radius * radius) continue;
            const cv::Vec2f f = flow.at<cv::Vec2f>(y - box.y, x - box.x);
            length.push_back(std::hypot(f[0], f[1]));
            difference += double(la.at<uchar>(y, x)) - double(lb.at<uchar>(y, x));
        }
    if (length.empty()) {
        std::printf("%s %s: no pixel both see within %g of the centre\n", pathA, pathB, radius);
        return 1;
    }
    std::sort(length.begin(), length.end());
    std::printf("%s %s: %zu pixels, flow median %.2f, 90th percentile %.2f px, luma A - B %.1f\n",
                pathA,
                pathB,
                length.size(),
                length[length.size() / 2],
                length[length.size() * 9 / 10],
                difference / double(length.size()));
    return 0;
}

int rings(const char* path, const std::vector<double>& radii) {
    const cv::Mat view = readRgba(path);
    if (view.empty()) return 2;
    cv::Mat luma;
    cv::cvtColor(view, luma, cv::COLOR_BGRA2GRAY);
    luma.convertTo(luma, CV_32F);
    cv::GaussianBlur(luma, luma, {0, 0}, 2.0);
    std::printf("%s: range around the centre", path);
    for (const double r : radii) {
        float low = 1e9f, high = -1e9f;
        for (int i = 0; i < 720; ++i) {
            const double angle = i * M_PI / 360;
            cv::Mat sample;
            cv::getRectSubPix(luma,
                              {1, 1},
                              cv::Point2f(float(view.cols / 2.0 - 0.5 + r * std::cos(angle)),
                                          float(view.rows / 2.0 - 0.5 + r * std::sin(angle))),
                              sample);
            low = std::min(low, sample.at<float>(0, 0));
            high = std::max(high, sample.at<float>(0, 0));
        }
        std::printf(", r %g: %.1f", r, high - low);
    }
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && argc <= 5 && std::strcmp(argv[1], "misalignment") == 0)
        return misalignment(argv[2], argv[3], argc == 5 ? std::atof(argv[4]) : 1e9);
    if (argc >= 4 && std::strcmp(argv[1], "rings") == 0) {
        std::vector<double> radii;
        for (int i = 3; i < argc; ++i) radii.push_back(std::atof(argv[i]));
        return rings(argv[2], radii);
    }
    return usage();
}
