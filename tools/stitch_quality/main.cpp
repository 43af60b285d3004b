// SPDX-License-Identifier: Apache-2.0
// stitch_quality: the blended panorama of make_rig footage against its true panorama.
//   stitch_quality FOOTAGE_DIR [--frames N] [--png DIR]
// For frame 1: PSNR and SSIM (luma, Gaussian window 1.5) over every pixel a camera sees and
// over the overlaps only, the luma step across the seams against the truth's step there, and
// the finest detail's power against the truth's (in the overlaps and where one camera is seen
// alone: sharpOvl, sharp1), for Alpha, Multi-Band and Spherical Multi-Band, without and with the
// vector field, from the same unwarped projected cameras. Then the vector field's change between
// frames on static content, and exposure compensation on cameras scaled by known gains. --diagnose
// adds why the seam blends score as they do in the overlaps (see diagnoseOverlaps) and a
// level-count sweep.
// --stability measures Multi-Band alone (without and with the field) and the field's change
// between frames, for quick comparisons of the field.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include <opencv2/imgproc.hpp>

#include "StitchInputs.h"
#include "render/Stitcher.h"

using namespace Kiln::ImageStitcher;
using StitchQuality::StitchInputs;

namespace {

// Cells (vector grid) around moving content left out of the second stability figure: the
// field's smoothing (5 cells, holes filled from 15) spreads a moving object's flow that far.
constexpr int kNearMoving = 20;

const float* at(const Kiln::Image& image, int x, int y) {
    return reinterpret_cast<const float*>(image.row(y)) + x * image.channels();
}

float luma(const float* p) { return 0.2126f * p[0] + 0.7152f * p[1] + 0.0722f * p[2]; }

struct Scores {
    double psnrAll, psnrOverlap, ssimAll, ssimOverlap;
    double seamBlend, seamTruth;
    int seamsOver;  // seam pairs whose step exceeds the truth's + 0.01
    // The finest band's power (luma minus its 1-pixel blur) over the truth's, in the overlaps
    // and where one camera alone is seen (which the vector field does not touch).
    double sharpness, sharpnessSingle;
};

Scores score(const Kiln::Image& pano,
             const Kiln::Image& labels,
             const std::vector<float>& truth,
             const cv::Mat& seenCount) {
    const int w = pano.box().width(), h = pano.box().height();
    double se[2] = {0, 0}, n[2] = {0, 0};
    cv::Mat a(h, w, CV_32F), b(h, w, CV_32F);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float* p = at(pano, x, y);
            const float* t = &truth[(std::size_t(y) * w + x) * 3];
            a.at<float>(y, x) = luma(p);
            b.at<float>(y, x) = luma(t);
            const int seen = seenCount.at<int>(y, x);
            if (seen == 0) continue;
            double e = 0;
            for (int c = 0; c < 3; ++c)
                e += std::pow(std::clamp(p[c], 0.f, 1.f) - std::clamp(t[c], 0.f, 1.f), 2);
            se[0] += e, n[0] += 3;
            if (seen >= 2) se[1] += e, n[1] += 3;
        }
    // SSIM map (Wang et al. 2004), luma in 0..1.
    const double c1 = 1e-4, c2 = 9e-4;
    cv::Mat ma, mb, aa, bb, ab;
    const cv::Size k(11, 11);
    cv::GaussianBlur(a, ma, k, 1.5);
    cv::GaussianBlur(b, mb, k, 1.5);
    cv::GaussianBlur(a.mul(a), aa, k, 1.5);
    cv::GaussianBlur(b.mul(b), bb, k, 1.5);
    cv::GaussianBlur(a.mul(b), ab, k, 1.5);
    // The finest detail: what a blur of 1 pixel takes away. A resampling that softens the
    // overlaps lowers its power there against the truth's.
    cv::Mat fineA, fineB;
    cv::GaussianBlur(a, fineA, {0, 0}, 1.0);
    cv::GaussianBlur(b, fineB, {0, 0}, 1.0);
    fineA = a - fineA;
    fineB = b - fineB;
    double fine[2] = {0, 0}, fineSingle[2] = {0, 0};
    double ss[2] = {0, 0}, sn[2] = {0, 0};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int seen = seenCount.at<int>(y, x);
            if (seen == 0) continue;
            const double mx = ma.at<float>(y, x), my = mb.at<float>(y, x);
            const double vx = aa.at<float>(y, x) - mx * mx, vy = bb.at<float>(y, x) - my * my;
            const double cxy = ab.at<float>(y, x) - mx * my;
            const double s =
                ((2 * mx * my + c1) * (2 * cxy + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
            ss[0] += s, sn[0] += 1;
            double* band = seen < 2 ? fineSingle : fine;
            band[0] += std::pow(fineA.at<float>(y, x), 2);
            band[1] += std::pow(fineB.at<float>(y, x), 2);
            if (seen >= 2) ss[1] += s, sn[1] += 1;
        }
    // Seams: where the label's camera changes between horizontal neighbours; the step is the
    // luma difference two pixels to either side.
    std::map<std::pair<int, int>, std::array<double, 3>> seams;
    for (int y = 0; y < h; ++y)
        for (int x = 2; x + 3 < w; ++x) {
            const float* l0 = at(labels, x, y);
            const float* l1 = at(labels, x + 1, y);
            if (l0[0] <= 0 || l1[0] <= 0 || l0[1] == l1[1]) continue;
            auto& s = seams[{int(std::min(l0[1], l1[1])), int(std::max(l0[1], l1[1]))}];
            s[0] += std::abs(a.at<float>(y, x + 3) - a.at<float>(y, x - 1));
            s[1] += std::abs(b.at<float>(y, x + 3) - b.at<float>(y, x - 1));
            s[2] += 1;
        }
    Scores r{};
    r.psnrAll = 10 * std::log10(n[0] / se[0]);
    r.psnrOverlap = 10 * std::log10(n[1] / se[1]);
    r.ssimAll = ss[0] / sn[0];
    r.ssimOverlap = ss[1] / sn[1];
    r.sharpness = fine[0] / fine[1];
    r.sharpnessSingle = fineSingle[1] > 0 ? fineSingle[0] / fineSingle[1] : 0.0;
    double count = 0;
    for (const auto& [pair, s] : seams) {
        if (s[2] < 20) continue;
        r.seamBlend += s[0];
        r.seamTruth += s[1];
        count += s[2];
        if (s[0] / s[2] > s[1] / s[2] + 0.01) ++r.seamsOver;
    }
    r.seamBlend /= count;
    r.seamTruth /= count;
    return r;
}

/// Why a seam blend scores as it does in the overlaps: PSNR over the pixels two or more cameras
/// see, of the seam labels' camera alone at every pixel (a hard cut), of the plain mean of the
/// cameras there, and of the camera nearest the truth at each pixel (a bound no blend without
/// the truth reaches), all with the blend's gains.
void diagnoseOverlaps(const std::vector<Kiln::Image>& cams,
                      const Stitcher& blend,
                      const std::vector<float>& truth,
                      const cv::Mat& seenCount) {
    const int w = blend.outputBox().width(), h = blend.outputBox().height();
    double se[3] = {0, 0, 0}, n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (seenCount.at<int>(y, x) < 2) continue;
            const int label = int(at(blend.seamLabels(), x, y)[1]);
            const float* t = &truth[(std::size_t(y) * w + x) * 3];
            double best = 1e9, labelled = 0, mean[3] = {0, 0, 0};
            int count = 0;
            for (int c = 0; c < int(cams.size()); ++c) {
                const float* p = at(cams[c], x, y);
                if (p[3] <= 0.5f) continue;
                double e = 0;
                for (int k = 0; k < 3; ++k) {
                    const double v = std::clamp(p[k] / p[3] * blend.gains(c)[k], 0.f, 1.f);
                    e += std::pow(v - std::clamp(t[k], 0.f, 1.f), 2);
                    mean[k] += v;
                }
                ++count;
                best = std::min(best, e);
                if (c == label) labelled = e;
            }
            double e = 0;
            for (int k = 0; k < 3; ++k)
                e += std::pow(mean[k] / count - std::clamp(t[k], 0.f, 1.f), 2);
            se[0] += labelled, se[1] += e, se[2] += best, n += 3;
        }
    std::printf(
        "overlaps: the seam labels' camera alone %.2f dB, the mean of the cameras %.2f dB, the "
        "camera nearest the truth at each pixel %.2f dB\n",
        10 * std::log10(n / se[0]),
        10 * std::log10(n / se[1]),
        10 * std::log10(n / se[2]));
}

/// How far the compensated cameras are from one exposure, against the truth: per camera and
/// band of 15 degrees from its axis, the ratio of its luma (as blended: after the vignetting
/// correction, times its gains) to the truth's over the pixels it fully sees; printed are the
/// largest ratio over the smallest (as a spread in %) and the RMS of the log ratios about their
/// mean, over the bands of at least 200 pixels with their camera's share of the luma.
void exposureAgainstTruth(const Stitcher& s,
                          const StitchInputs& inputs,
                          const std::vector<float>& truth) {
    const int w = s.outputBox().width(), h = s.outputBox().height();
    constexpr int kBands = 12;
    std::vector<std::array<double, 3>> sums(std::size_t(inputs.cameras()) * kBands, {0, 0, 0});
    for (int c = 0; c < inputs.cameras(); ++c) {
        const Kiln::Image image = s.alignedCamera(c);
        const std::array<float, 3> axis = inputs.axis(c), g = s.gains(c);
        const Kiln::Box b = image.box();
        for (int y = b.y0; y < b.y1; ++y)
            for (int x = b.x0; x < b.x1; ++x) {
                const float* p = at(image, x - b.x0, y);  // at() counts x from 0
                if (p[3] < 0.99f) continue;
                const float* t = &truth[(std::size_t(y) * w + x) * 3];
                const double lon = ((x + 0.5) / w * 2 - 1) * M_PI;
                const double lat = ((y + 0.5) / h * 2 - 1) * M_PI / 2;
                const double d = std::cos(lat) * std::sin(lon) * axis[0] + std::sin(lat) * axis[1] +
                                 std::cos(lat) * std::cos(lon) * axis[2];
                const int band = std::min(
                    kBands - 1, int(std::acos(std::clamp(d, -1.0, 1.0)) / (M_PI / kBands)));
                auto& sum = sums[std::size_t(c) * kBands + band];
                sum[0] +=
                    (0.2126 * g[0] * p[0] + 0.7152 * g[1] * p[1] + 0.0722 * g[2] * p[2]) / p[3];
                sum[1] += 0.2126 * t[0] + 0.7152 * t[1] + 0.0722 * t[2];
                sum[2] += 1;
            }
    }
    double lo = 1e9, hi = 0, logSum = 0, logSquares = 0, weight = 0;
    for (const auto& sum : sums) {
        if (sum[2] < 200 || sum[1] <= 0) continue;
        const double r = sum[0] / sum[1];
        lo = std::min(lo, r), hi = std::max(hi, r);
        logSum += sum[2] * std::log(r), logSquares += sum[2] * std::log(r) * std::log(r);
        weight += sum[2];
    }
    const double mean = logSum / weight;
    std::printf(
        "    against the truth, camera x angle bands: spread %.1f %%, RMS %.1f %%, level "
        "%.3f\n",
        100 * (hi / lo - 1),
        100 * std::sqrt(std::max(0.0, logSquares / weight - mean * mean)),
        std::exp(mean));
    for (int c = 0; c < inputs.cameras(); ++c) {
        const Vignetting v = s.vignetting(c);
        if (!v.identity())
            std::printf(
                "    camera %d: falloff at 45, 90 degrees and its reach (%.0f): %.3f %.3f "
                "%.3f\n",
                c + 1,
                v.reach * 180 / M_PI,
                std::exp(v.logFalloff(M_PI / 4)),
                std::exp(v.logFalloff(M_PI / 2)),
                std::exp(v.logFalloff(v.reach)));
    }
}

}  // namespace

static int run(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: stitch_quality FOOTAGE_DIR [--frames N] [--png DIR] [--diagnose] "
                     "[--stability] [--vignetting none|shared|camera]\n");
        return 2;
    }
    const std::string dir = argv[1];
    int frames = 10;
    std::string png;
    bool diagnose = false, stability = false;
    VignettingModel model = VignettingModel::Shared;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--diagnose")) {
            diagnose = true;
            continue;
        }
        if (!std::strcmp(argv[i], "--stability")) {
            stability = true;
            continue;
        }
        if (i + 1 == argc) break;
        if (!std::strcmp(argv[i], "--frames"))
            frames = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--png"))
            png = argv[++i];
        else if (!std::strcmp(argv[i], "--vignetting")) {
            const std::string v = argv[++i];
            if (v != "none" && v != "shared" && v != "camera") {
                std::fprintf(stderr,
                             "stitch_quality: --vignetting: expected none, shared or camera, got "
                             "'%s'\n",
                             v.c_str());
                return 2;
            }
            model = v == "none"     ? VignettingModel::None
                    : v == "shared" ? VignettingModel::Shared
                                    : VignettingModel::PerCamera;
        }
    }
    if (!png.empty()) {
        // The pictures go into DIR, made when missing; one that cannot be made stops the run
        // before minutes of stitching are lost to it.
        std::error_code error;
        std::filesystem::create_directories(png, error);
        if (error || !std::filesystem::is_directory(png)) {
            std::fprintf(stderr,
                         "stitch_quality: --png: cannot make the folder '%s': %s\n",
                         png.c_str(),
                         error ? error.message().c_str() : "a file has that name");
            return 2;
        }
    }
    int w = 0, h = 0;
    const std::vector<float> truth = StitchQuality::ReadRgb(dir + "/truth/pano.0001.exr", &w, &h);
    StitchInputs inputs(dir, w, h);
    std::vector<Kiln::Image> cams;
    for (int c = 0; c < inputs.cameras(); ++c) cams.push_back(inputs.camera(c, 1));
    cv::Mat seen(h, w, CV_32S, cv::Scalar(0));
    for (const auto& cam : cams)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (at(cam, x, y)[3] > 0.5f) ++seen.at<int>(y, x);
    auto stitch = [&](const std::vector<Kiln::Image>& images,
                      BlendType type,
                      bool field,
                      bool compensation,
                      Stitcher& s,
                      bool expand = false,
                      int smallest = 0) {
        s.setOutputBox({0, 0, w, h});
        s.setVectorDetail(0.4f);
        s.setBlendType(type);
        s.setSmallestLevelSize(smallest > 0 ? smallest
                                            : std::max(1, int(std::min(w, h) * 0.125f * 0.125f)));
        s.setExpand(expand);
        s.setExposureCompensation(compensation);
        std::vector<int> list;
        s.setVignettingModel(model);
        for (std::size_t i = 0; i < images.size(); ++i) {
            s.setCameraImage(int(i), images[i]);
            s.setCameraAxis(int(i), inputs.axis(int(i)));
            list.push_back(int(i));
        }
        if (field) s.setLinks(inputs.links());
        s.setCameraList(list);
        s.build();
    };
    std::printf(
        "panorama %d x %d, %d cameras, %zu links; seen by a camera %.1f %%, overlaps %.1f %%\n",
        w,
        h,
        inputs.cameras(),
        inputs.links().size(),
        100.0 * cv::countNonZero(seen) / (w * h),
        100.0 * cv::countNonZero(seen >= 2) / (w * h));
    std::printf("%-22s %-6s %8s %8s %8s %8s %10s %10s %6s %8s %8s\n",
                "blend",
                "field",
                "PSNR",
                "PSNRovl",
                "SSIM",
                "SSIMovl",
                "seamStep",
                "truthStep",
                "over",
                "sharpOvl",
                "sharp1");
    if (diagnose) {
        Stitcher s;
        stitch(cams, BlendType::MultiBand, false, true, s);
        diagnoseOverlaps(cams, s, truth, seen);
        // The level count: one level is the hard cut along the seam labels.
        for (const int smallest : {std::max(w, h), 64, 16, 1}) {
            Stitcher m;
            stitch(cams, BlendType::MultiBand, false, true, m, false, smallest);
            const Scores r = score(m.panorama(), m.seamLabels(), truth, seen);
            std::printf("Multi-Band, smallest level %4d: PSNR %.2f, overlaps %.2f\n",
                        smallest,
                        r.psnrAll,
                        r.psnrOverlap);
        }
    }
    const char* names[] = {"Alpha", "Multi-Band", "Spherical Multi-Band"};
    for (int type = stability ? 1 : 0; type < (stability ? 2 : 3); ++type)
        for (const bool field : {false, true}) {
            Stitcher s;
            stitch(cams, BlendType(type), field, true, s);
            const Scores r = score(s.panorama(), s.seamLabels(), truth, seen);
            std::printf("%-22s %-6s %8.2f %8.2f %8.4f %8.4f %10.4f %10.4f %6d %8.4f %8.4f\n",
                        names[type],
                        field ? "on" : "off",
                        r.psnrAll,
                        r.psnrOverlap,
                        r.ssimAll,
                        r.ssimOverlap,
                        r.seamBlend,
                        r.seamTruth,
                        r.seamsOver,
                        r.sharpness,
                        r.sharpnessSingle);
            if (field)
                std::printf(
                    "    vector field: %d pairs, largest shift %.2f cells, largest jump "
                    "between neighbouring cells %.3f cells (%.3f on the sphere)\n",
                    s.vectorFieldStats().pairs,
                    s.vectorFieldStats().largestShift,
                    s.vectorFieldStats().largestJump,
                    s.vectorFieldStats().largestArcJump);
            if (!png.empty()) {
                const std::string name =
                    png + "/blend_" + std::to_string(type) + (field ? "_field" : "");
                StitchQuality::WritePng(name + ".png", s.panorama());
                // Full-resolution parts: around longitude 0, and at the panorama's left and
                // right edges (the longitude seam).
                const Kiln::Box middle{w / 2 - 400, h / 2 - 250, w / 2 + 400, h / 2 + 250};
                StitchQuality::WritePng(name + "_middle.png", s.panorama(), &middle);
                const Kiln::Box edge{w - 400, h / 2 - 250, w, h / 2 + 250};
                StitchQuality::WritePng(name + "_edge.png", s.panorama(), &edge);
            }
        }

    // Expand: the areas no camera sees (here the caps above and below the ring) filled from
    // the coarse levels, for looking at: no black may bleed in, and the poles stay whole.
    if (!png.empty() && !stability)
        for (int type = 1; type < 3; ++type) {
            Stitcher s;
            stitch(cams, BlendType(type), true, true, s, true);
            StitchQuality::WritePng(png + "/expand_" + std::to_string(type) + ".png", s.panorama());
        }

    // Exposure: cameras scaled by known gains up to one stop, with a colour cast.
    if (!stability) {
        const float stops[] = {1.0f, -1.0f, 0.5f, -0.5f, 0.25f, -0.25f, 0.75f, -0.75f};
        std::vector<Kiln::Image> scaled;
        std::vector<std::array<float, 3>> applied;
        for (int c = 0; c < inputs.cameras(); ++c) {
            const float g = std::pow(2.0f, stops[c % 8]);
            const std::array<float, 3> gain{g * 1.05f, g, g * 0.95f};
            applied.push_back(gain);
            Kiln::Image copy(cams[c].info(), nullptr);
            copy.copyFrom(cams[c]);
            for (int y = 0; y < h; ++y) {
                float* row = reinterpret_cast<float*>(copy.row(y));
                for (int x = 0; x < w; ++x)
                    for (int k = 0; k < 3; ++k) row[x * 4 + k] *= gain[k];
            }
            scaled.push_back(copy);
        }
        for (const bool on : {false, true}) {
            Stitcher s;
            stitch(scaled, BlendType::MultiBand, false, on, s);
            const Scores r = score(s.panorama(), s.seamLabels(), truth, seen);
            double spread = 0;
            for (int k = 0; k < 3; ++k) {
                double lo = 1e9, hi = 0;
                for (int c = 0; c < inputs.cameras(); ++c) {
                    const double v = s.gains(c)[k] * applied[c][k];
                    lo = std::min(lo, v), hi = std::max(hi, v);
                }
                spread = std::max(spread, hi / lo - 1);
            }
            std::printf(
                "exposure +-1 stop, compensation %-3s: PSNR %.2f (overlaps %.2f), seam step "
                "%.4f (truth %.4f, %d seams over), residual gain spread %.1f %%\n",
                on ? "on" : "off",
                r.psnrAll,
                r.psnrOverlap,
                r.seamBlend,
                r.seamTruth,
                r.seamsOver,
                100 * spread);
            exposureAgainstTruth(s, inputs, truth);
            if (!png.empty())
                StitchQuality::WritePng(png + "/exposure_" + (on ? "on" : "off") + ".png",
                                        s.panorama());
            if (!png.empty()) {
                const Kiln::Box middle{w / 2 - 400, h / 2 - 250, w / 2 + 400, h / 2 + 250};
                StitchQuality::WritePng(png + "/exposure_" + (on ? "on" : "off") + "_middle.png",
                                        s.panorama(),
                                        &middle);
            }
        }
    }

    // Temporal stability of the vector field on static content.
    std::vector<std::vector<float>> previous;
    std::vector<float> previousTruth = truth;
    double sum = 0, count = 0, worst = 0, moved = 0;
    double awaySum = 0, awayCount = 0, awayWorst = 0;
    Kiln::Image change;  // per cell, the largest change of any camera's field, last frame
    for (int f = 1; f <= frames; ++f) {
        std::vector<Kiln::Image> images;
        for (int c = 0; c < inputs.cameras(); ++c) images.push_back(inputs.camera(c, f));
        char name[64];
        std::snprintf(name, sizeof name, "/truth/pano.%04d.exr", f);
        int tw, th;
        const std::vector<float> t = StitchQuality::ReadRgb(dir + name, &tw, &th);
        Stitcher s;
        stitch(images, BlendType::MultiBand, true, true, s);
        // The exposure from frame to frame: a fit that follows the noise makes video flicker.
        std::printf("frame %d: green compensation at 90 degrees (gain / falloff), per camera:", f);
        for (int c = 0; c < inputs.cameras(); ++c)
            std::printf(" %.4f", s.gains(c)[1] * std::exp(-s.vignetting(c).logFalloff(M_PI / 2)));
        std::printf("\n");
        const Kiln::Box grid = s.vectorFieldBox();
        std::vector<std::vector<float>> fields;
        for (int c = 0; c < inputs.cameras(); ++c) {
            const Kiln::Image field = s.vectorField(c);
            std::vector<float> v(std::size_t(grid.width()) * grid.height() * 2, 0.0f);
            if (!field.empty())
                for (int y = 0; y < grid.height(); ++y)
                    std::memcpy(&v[std::size_t(y) * grid.width() * 2],
                                field.row(y),
                                grid.width() * 2 * sizeof(float));
            fields.push_back(std::move(v));
        }
        if (!previous.empty()) {
            Kiln::Info info;
            info.box = grid;
            info.channels = 4;
            change = Kiln::Image(info, nullptr, {}, Kiln::Image::kClearOnAllocate);
            // A cell is static when the truth around it (7 x 7 panorama pixels) did not change.
            cv::Mat moving(grid.height(), grid.width(), CV_8U, cv::Scalar(0));
            for (int gy = 0; gy < grid.height(); ++gy)
                for (int gx = 0; gx < grid.width(); ++gx) {
                    const int px = int((gx + 0.5) * w / grid.width());
                    const int py = int((gy + 0.5) * h / grid.height());
                    bool still = true;
                    for (int dy = -3; dy <= 3 && still; ++dy)
                        for (int dx = -3; dx <= 3 && still; ++dx) {
                            const int x = (px + dx + w) % w, y = std::clamp(py + dy, 0, h - 1);
                            for (int k = 0; k < 3; ++k)
                                if (std::abs(t[(std::size_t(y) * w + x) * 3 + k] -
                                             previousTruth[(std::size_t(y) * w + x) * 3 + k]) >
                                    1e-4)
                                    still = false;
                        }
                    moving.at<unsigned char>(gy, gx) = still ? 0 : 1;
                }
            // The field is smooth, so a moving object's flow reaches past its own cells by the
            // smoothing's reach: a second figure leaves out cells within kNearMoving of motion.
            cv::Mat nearMoving;
            cv::dilate(moving,
                       nearMoving,
                       cv::getStructuringElement(cv::MORPH_RECT,
                                                 {2 * kNearMoving + 1, 2 * kNearMoving + 1}));
            for (int gy = 0; gy < grid.height(); ++gy)
                for (int gx = 0; gx < grid.width(); ++gx) {
                    if (moving.at<unsigned char>(gy, gx)) continue;
                    const bool away = !nearMoving.at<unsigned char>(gy, gx);
                    for (int c = 0; c < inputs.cameras(); ++c) {
                        const std::size_t i = (std::size_t(gy) * grid.width() + gx) * 2;
                        const double d = std::hypot(fields[c][i] - previous[c][i],
                                                    fields[c][i + 1] - previous[c][i + 1]);
                        if (fields[c][i] == 0 && fields[c][i + 1] == 0 && previous[c][i] == 0 &&
                            previous[c][i + 1] == 0)
                            continue;  // outside every overlap
                        sum += d, count += 1, worst = std::max(worst, d);
                        if (away) awaySum += d, awayCount += 1, awayWorst = std::max(awayWorst, d);
                        moved += d > 0.1 ? 1 : 0;
                        // Red: 1 pixel of change; static cells show grey.
                        float* p = reinterpret_cast<float*>(change.row(gy)) + gx * 4;
                        p[0] = std::max(p[0], float(std::min(1.0, d)));
                        p[1] = p[2] = 0.1f;
                        p[3] = 1.0f;
                    }
                }
        }
        previous = std::move(fields);
        previousTruth = t;
    }
    std::printf(
        "vector field over %d frames, static cells in overlaps: mean change %.4f px, "
        "largest %.4f px (panorama pixels), %.1f %% of them over 0.1 px\n",
        frames,
        count > 0 ? sum / count : 0.0,
        worst,
        count > 0 ? 100 * moved / count : 0.0);
    std::printf(
        "    static cells farther than %d cells from moving content: mean change %.4f px, largest "
        "%.4f px\n",
        kNearMoving,
        awayCount > 0 ? awaySum / awayCount : 0.0,
        awayWorst);
    if (!png.empty() && !change.empty()) StitchQuality::WritePng(png + "/field_change.png", change);
    return 0;
}

int main(int argc, char** argv) {
    // Unreadable footage or an unwritable picture ends the run with its reason, not an abort.
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "stitch_quality: %s\n", e.what());
        return 2;
    }
}
