// SPDX-License-Identifier: Apache-2.0
// Exposure compensation with vignetting: the joint fit of gains and falloff on rigs with known
// gains and lenses, its robustness, the stitcher's panorama of vignetted cameras, and the
// optical axis the renderer hands the stitcher against where the projection puts the camera.
#include "render/StitchAnalysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "RenderTestImages.h"
#include "render/CommonPanoramaRenderer.h"
#include "render/Stitcher.h"
#include "render/projection/ProjectTo.h"

using namespace Kiln;
using namespace Kiln::ImageStitcher;

namespace {

constexpr auto px = Korvane::Research::test::pixel;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180;

using Vec = std::array<double, 3>;
using Falloff = std::function<double(double)>;

Vec direction(double lon, double lat) {
    return {std::cos(lat) * std::sin(lon), std::sin(lat), std::cos(lat) * std::cos(lon)};
}

/// Direction of the centre of pixel (x, y) of a w x h equirectangular panorama.
Vec pixelDirection(int x, int y, int w, int h) {
    return direction(((x + 0.5) / w * 2 - 1) * kPi, ((y + 0.5) / h * 2 - 1) * kPi / 2);
}

double angle(const Vec& a, const std::array<float, 3>& b) {
    return std::acos(std::clamp(a[0] * b[0] + a[1] * b[1] + a[2] * b[2], -1.0, 1.0));
}

/// A scene with detail at several scales, different per channel, always positive.
std::array<double, 3> scene(const Vec& d) {
    const double a = std::sin(5 * d[0] + 2 * d[1]) * std::cos(4 * d[2]);
    const double b = std::sin(11 * d[1] - 3 * d[2]) * std::cos(7 * d[0]);
    return {0.35 + 0.15 * a + 0.08 * b, 0.4 + 0.1 * b - 0.05 * a, 0.3 + 0.1 * a * b};
}

constexpr double kSeenAngle = 80 * kDegree;

using Scene = std::function<std::array<double, 3>(const Vec&)>;

struct Lens {
    std::array<float, 3> axis;
    std::array<float, 3> gain;
    Falloff falloff;
    double seen = kSeenAngle;  ///< the angle from the axis it sees out to
    Scene content = scene;
    double turn = 0;  ///< the content turned by this much longitude (radians), as a shift
};

/// Six cameras, four around the horizon and one at each pole, each seeing 80 degrees about
/// its axis; gains of +-1 stop and less with a colour cast.
std::vector<Lens> sixCameras(const Falloff& falloff) {
    const double stops[6] = {1, -1, 0.5, -0.5, 0.25, -0.25};
    std::vector<Lens> lenses;
    for (int i = 0; i < 6; ++i) {
        const Vec d = i < 4 ? direction(i * kPi / 2, 0) : direction(0, i == 4 ? kPi / 2 : -kPi / 2);
        const float g = float(std::exp2(stops[i]));
        lenses.push_back({{float(d[0]), float(d[1]), float(d[2])},
                          {g * (i % 2 ? 1.05f : 0.95f), g, g * (i % 2 ? 0.97f : 1.03f)},
                          falloff});
    }
    return lenses;
}

/// What a camera shows at panorama pixel (x, y), premultiplied RGBA (alpha 0 or 1).
std::array<float, 4> shows(const Lens& lens, int x, int y, int w, int h) {
    const Vec d = pixelDirection(x, y, w, h);
    const double theta = angle(d, lens.axis);
    if (theta > lens.seen) return {0, 0, 0, 0};
    const double c = std::cos(lens.turn), s = std::sin(lens.turn);
    const auto l = lens.content({c * d[0] - s * d[2], d[1], s * d[0] + c * d[2]});
    const double v = lens.falloff(theta);
    return {float(l[0] * v * lens.gain[0]),
            float(l[1] * v * lens.gain[1]),
            float(l[2] * v * lens.gain[2]),
            1.0f};
}

std::vector<HostImage> analysisImages(const std::vector<Lens>& lenses, int w, int h) {
    std::vector<HostImage> cameras;
    for (const Lens& lens : lenses) {
        HostImage image(w, h, 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const auto p = shows(lens, x, y, w, h);
                for (int c = 0; c < 4; ++c) image.at(x, y, c) = p[c];
            }
        cameras.push_back(std::move(image));
    }
    return cameras;
}

std::vector<Image> stitcherImages(const std::vector<Lens>& lenses, int w, int h) {
    std::vector<Image> images;
    for (const Lens& lens : lenses) {
        Image image(Info{Box{0, 0, w, h}, 4}, nullptr);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const auto p = shows(lens, x, y, w, h);
                std::copy(p.begin(), p.end(), reinterpret_cast<float*>(image.row(y)) + x * 4);
            }
        images.push_back(image);
    }
    return images;
}

std::vector<std::array<float, 3>> axesOf(const std::vector<Lens>& lenses) {
    std::vector<std::array<float, 3>> axes;
    for (const Lens& lens : lenses) axes.push_back(lens.axis);
    return axes;
}

/// The largest spread of fitted x applied gain over the cameras, per channel, as a fraction.
double gainSpread(const std::vector<CameraExposure>& fit, const std::vector<Lens>& lenses) {
    double spread = 0;
    for (int c = 0; c < 3; ++c) {
        double lo = 1e9, hi = 0;
        for (std::size_t i = 0; i < fit.size(); ++i) {
            const double v = fit[i].gain[c] * lenses[i].gain[c];
            lo = std::min(lo, v), hi = std::max(hi, v);
        }
        spread = std::max(spread, hi / lo - 1);
    }
    return spread;
}

/// The largest error of a fitted falloff against the true one, relative, up to `upTo`.
double falloffError(const Vignetting& fitted, const Falloff& truth, double upTo) {
    double worst = 0;
    for (double t = 0; t <= upTo; t += kDegree)
        worst = std::max(worst, std::abs(std::exp(fitted.logFalloff(t)) / truth(t) - 1));
    return worst;
}

// A falloff outside the model's family (a power of a cosine), 0.62 of the axis's brightness
// at 80 degrees.
double lensFalloff(double theta) { return std::pow(std::cos(0.5 * theta), 3); }
double none(double) { return 1.0; }

TEST(StitchAnalysis, RecoversKnownGainsAndFalloffFromTheOverlaps) {
    const std::vector<Lens> lenses = sixCameras(lensFalloff);
    const auto cameras = analysisImages(lenses, 256, 128);

    const auto shared = estimateExposure(cameras, axesOf(lenses), VignettingModel::Shared);
    EXPECT_LT(gainSpread(shared, lenses), 0.02);
    for (const CameraExposure& e : shared) {
        EXPECT_NEAR(e.vignetting.reach, kSeenAngle, 3 * kDegree);
        EXPECT_LT(falloffError(e.vignetting, lensFalloff, kSeenAngle), 0.02);
    }

    // Each camera its own lens: the per-camera model finds each.
    std::vector<Lens> mixed = lenses;
    const double strengths[6] = {0.35, 0.45, 0.5, 0.55, 0.6, 0.4};
    for (int i = 0; i < 6; ++i)
        mixed[i].falloff = [k = strengths[i]](double t) { return std::pow(std::cos(k * t), 3); };
    const auto own = estimateExposure(
        analysisImages(mixed, 256, 128), axesOf(mixed), VignettingModel::PerCamera);
    EXPECT_LT(gainSpread(own, mixed), 0.03);
    for (int i = 0; i < 6; ++i)
        EXPECT_LT(falloffError(own[i].vignetting, mixed[i].falloff, kSeenAngle), 0.03) << i;
}

TEST(StitchAnalysis, LensesWithoutFalloffKeepNoneDespiteNoiseAndContentOneCameraShows) {
    const std::vector<Lens> lenses = sixCameras(none);
    auto cameras = analysisImages(lenses, 256, 128);
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    for (HostImage& image : cameras)
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (image.at(x, y, 3) > 0)
                    for (int c = 0; c < 3; ++c) image.at(x, y, c) += noise(rng);
    // A bright object close to camera 1 only, in its overlap with camera 2 (at longitude 45).
    for (int y = 56; y < 72; ++y)
        for (int x = 150; x < 170; ++x)
            for (int c = 0; c < 3; ++c) cameras[1].at(x, y, c) = 0.95f;
    const auto fit = estimateExposure(cameras, axesOf(lenses), VignettingModel::Shared);
    EXPECT_LT(gainSpread(fit, lenses), 0.02);
    for (const CameraExposure& e : fit)
        EXPECT_LT(falloffError(e.vignetting, none, kSeenAngle), 0.015);

    // Unknown axes: gains alone, the same as without axes, and a zero axis means unknown.
    const auto unknown = estimateExposure(cameras, {}, VignettingModel::Shared);
    const auto gains = estimateGains(cameras);
    auto axes = axesOf(lenses);
    axes[2] = {0, 0, 0};
    const auto partly = estimateExposure(cameras, axes, VignettingModel::PerCamera);
    EXPECT_TRUE(partly[2].vignetting.identity());

    // A broken frame (not-a-number pixels) and a broken axis leave the fit finite.
    cameras[3].at(10, 60, 0) = std::nanf("");
    cameras[3].at(11, 60, 1) = INFINITY;
    axes[2] = {std::nanf(""), 0, 1};
    const auto broken = estimateExposure(cameras, axes, VignettingModel::Shared);
    EXPECT_TRUE(broken[2].vignetting.identity());
    for (const CameraExposure& e : broken)
        for (float g : e.gain) ASSERT_TRUE(std::isfinite(g));

    // Two 190-degree lenses back to back meet about 90 degrees from both axes: the overlap
    // shows the falloff's slope there and nothing of its course, so none is fitted.
    std::vector<Lens> pair = {{{0, 0, 1}, {1.2f, 1.2f, 1.2f}, lensFalloff, 95 * kDegree},
                              {{0, 0, -1}, {0.8f, 0.8f, 0.8f}, lensFalloff, 95 * kDegree}};
    for (const VignettingModel model : {VignettingModel::Shared, VignettingModel::PerCamera})
        for (const CameraExposure& e :
             estimateExposure(analysisImages(pair, 256, 128), axesOf(pair), model))
            EXPECT_TRUE(e.vignetting.identity()) << int(model);

    // Cameras that brighten 20 times toward their rims are no lens: gains alone.
    const auto glowing = sixCameras([](double t) { return std::exp(1.6 * t * t); });
    const auto glow = analysisImages(glowing, 256, 128);
    const auto implausible = estimateExposure(glow, axesOf(glowing), VignettingModel::Shared);
    const auto glowGains = estimateGains(glow);
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(implausible[i].vignetting.identity());
        EXPECT_EQ(implausible[i].gain, glowGains[i]);
    }
    EXPECT_LT(gainSpread(broken, lenses), 0.02);
    EXPECT_LT(falloffError(broken[0].vignetting, none, kSeenAngle), 0.015);
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(unknown[i].vignetting.identity());
        for (int c = 0; c < 3; ++c) EXPECT_EQ(unknown[i].gain[c], gains[i][c]);
    }
}

TEST(StitchAnalysis, StitcherBlendsVignettedCamerasWithoutSeamsAndLeavesTheInputsAlone) {
    const int w = 1024, h = 512;
    const std::vector<Lens> lenses = sixCameras(lensFalloff);
    const std::vector<Image> images = stitcherImages(lenses, w, h);
    const std::array<float, 4> before = shows(lenses[0], 600, 300, w, h);
    // The panorama over the scene, as a spread of log ratios about their mean.
    auto error = [&](bool axes, bool links, BlendType type) {
        Stitcher s;
        s.setOutputBox({0, 0, w, h});
        s.setVectorDetail(0.125f);
        s.setBlendType(type);
        s.setSmallestLevelSize(16);
        std::vector<int> list;
        for (int i = 0; i < 6; ++i) {
            s.setCameraImage(i, images[i]);
            if (axes) s.setCameraAxis(i, lenses[i].axis);
            list.push_back(i);
        }
        if (links) s.setLinks({{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 4}, {0, 5}});
        s.setCameraList(list);
        s.build();
        double sum = 0, squares = 0, n = 0;
        for (int y = 8; y < h - 8; y += 3)
            for (int x = 0; x < w; x += 3) {
                const float* p = reinterpret_cast<const float*>(s.panorama().row(y)) + x * 4;
                const double r = std::log(p[1] / p[3] / scene(pixelDirection(x, y, w, h))[1]);
                sum += r, squares += r * r, n += 1;
            }
        return std::sqrt(squares / n - (sum / n) * (sum / n));
    };
    EXPECT_GT(error(false, false, BlendType::Alpha), 0.05);  // gains alone
    for (const BlendType type : {BlendType::Alpha, BlendType::MultiBand}) {
        EXPECT_LT(error(true, false, type), 0.01) << int(type);
        EXPECT_LT(error(true, true, type), 0.01) << int(type);  // aligned images corrected too
    }
    const float* after = reinterpret_cast<const float*>(images[0].row(300)) + 600 * 4;
    for (int c = 0; c < 4; ++c) EXPECT_EQ(after[c], before[c]);
}

TEST(StitchAnalysis, TheVectorFieldComparesCamerasWithTheirFalloffRemoved) {
    // Strongly vignetting lenses (0.29 of the axis's brightness at 80 degrees) over fine
    // texture; camera 1 (axis at longitude 90) shows the scene turned by 1.5 pixels. Across
    // its overlap with camera 0 one side is up to 2.5 times brighter than the other.
    const int w = 512, h = 256;
    const double shift = 1.5;
    std::vector<Lens> lenses = sixCameras([](double t) { return std::pow(std::cos(0.5 * t), 7); });
    const Scene textured = [](const Vec& d) {
        const double v = 0.4 + 0.08 * std::sin(31 * d[0] + 17 * d[1] + 1) +
                         0.06 * std::sin(23 * d[2] - 29 * d[1]) +
                         0.05 * std::sin(41 * d[1] + 13 * d[0] - 19 * d[2] + 2);
        return std::array<double, 3>{v, v, v};
    };
    for (Lens& lens : lenses) lens.content = textured;
    lenses[1].turn = shift / w * 2 * kPi;
    const std::vector<Image> images = stitcherImages(lenses, w, h);
    // Mean error of the recovered shift (D1 - D0, pixels) over the overlap's middle, within
    // 11 degrees of the horizon.
    auto error = [&](bool axes) {
        Stitcher s;
        s.setOutputBox({0, 0, w, h});
        s.setVectorDetail(0.25f);  // one cell per pixel
        s.setBlendType(BlendType::Alpha);
        std::vector<int> list;
        for (int i = 0; i < 6; ++i) {
            s.setCameraImage(i, images[i]);
            if (axes) s.setCameraAxis(i, lenses[i].axis);
            list.push_back(i);
        }
        s.setLinks({{0, 1}});
        s.setCameraList(list);
        s.build();
        const Image f0 = s.vectorField(0), f1 = s.vectorField(1);
        double sum = 0;
        int n = 0;
        for (int y = 112; y < 144; y += 4)
            for (int x = 286; x < 334; x += 4, ++n)
                sum += std::hypot(px(f1, x, y)[0] - px(f0, x, y)[0] - shift,
                                  px(f1, x, y)[1] - px(f0, x, y)[1]);
        return sum / n;
    };
    const double known = error(true), unknown = error(false);
    EXPECT_LT(known, 0.1) << "falloff removed before the flow";
    EXPECT_LT(known, 0.5 * unknown) << "falloff left in: " << unknown;
}

TEST(StitchAnalysis, TheRenderersAxisIsWhereTheProjectionPutsTheImageCentre) {
    using namespace Kiln::ImageProjection;
    // A fisheye whose image is bright within 2 pixels of its centre only.
    const int cw = 64, ch = 48, w = 360, h = 180;
    Image camera(Info{Box{0, 0, cw, ch}, 4}, nullptr);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const float v = std::hypot(x + 0.5 - cw / 2.0, y + 0.5 - ch / 2.0) < 2 ? 1.0f : 0.0f;
            float* p = reinterpret_cast<float*>(camera.row(y)) + x * 4;
            p[0] = p[1] = p[2] = v;
            p[3] = 1;
        }
    for (const std::array<float, 3> rotation :
         {std::array<float, 3>{0, 0, 0}, {20, 130, 10}, {-65, -40, 30}}) {
        ProjectionRecords records;
        records.camera.projection = 1;
        records.camera.focalLength = 8;
        records.camera.sensorWidth = 22;
        records.camera.rotation = rotation;
        records.parallax.depth = 0;
        ProjectTo project(2);
        project.records() = records;
        project.setSourceSize({cw, ch});
        Image pano(Info{Box{0, 0, w, h}, 4}, nullptr, {}, Image::kClearOnAllocate);
        ASSERT_TRUE(project.run(pano, camera, {w, h}));
        Vec centre{0, 0, 0};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float v = reinterpret_cast<const float*>(pano.row(y))[x * 4];
                const Vec d = pixelDirection(x, y, w, h);
                for (int k = 0; k < 3; ++k) centre[k] += v * d[k];
            }
        const double norm =
            std::sqrt(centre[0] * centre[0] + centre[1] * centre[1] + centre[2] * centre[2]);
        ASSERT_GT(norm, 0);
        for (double& c : centre) c /= norm;
        const auto axis = Korvane::Research::CommonPanoramaRenderer::opticalAxis(records.camera);
        EXPECT_LT(angle(centre, axis), 1.5 * kDegree) << rotation[0] << " " << rotation[1];
    }
}

TEST(StitchAnalysis, AxisCosinesFollowThePyramidsGridAndTheTableFollowsTheFalloff) {
    // A panorama at an odd origin: each pixel's cosine is that of its own direction, and a
    // level reduced from a box at an odd origin has each pixel where its two fine pixels'
    // directions meet (their mean cosine, to the curvature over one pixel).
    const Box panorama{7, 3, 7 + 256, 3 + 128};
    const std::array<float, 3> axis{0.4f, -0.5f, 0.77f};
    const double n = std::sqrt(double(axis[0]) * axis[0] + double(axis[1]) * axis[1] +
                               double(axis[2]) * axis[2]);
    const AxisCosines fine(axis, panorama, PanoramaGrid::of(panorama));
    for (int y = panorama.y0; y < panorama.y1; y += 5)
        for (int x = panorama.x0; x < panorama.x1; x += 3) {
            const Vec d = pixelDirection(x - panorama.x0, y - panorama.y0, 256, 128);
            EXPECT_NEAR(
                fine.at(x, y), (d[0] * axis[0] + d[1] * axis[1] + d[2] * axis[2]) / n, 1e-9);
        }
    const Box level1{
        panorama.x0 >> 1, panorama.y0 >> 1, (panorama.x0 >> 1) + 128, (panorama.y0 >> 1) + 64};
    const AxisCosines coarse(axis, level1, PanoramaGrid::of(panorama).reduced(panorama));
    for (int y = level1.y0 + 1; y < level1.y1 - 1; ++y)
        for (int x = level1.x0 + 1; x < level1.x1 - 1; ++x) {
            const int fx = panorama.x0 + 2 * (x - level1.x0),
                      fy = panorama.y0 + 2 * (y - level1.y0);
            double mean = 0;
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 2; ++i) mean += fine.at(fx + i, fy + j) / 4;
            EXPECT_NEAR(coarse.at(x, y), mean, 5e-4) << x << "," << y;
        }
    // 1 / V from the table, against the falloff itself, from the axis to beyond its reach
    // (interpolating across the kink at the reach costs 3e-4 there, 2e-5 elsewhere).
    Vignetting v;
    v.a = -0.2f, v.b = -0.03f, v.reach = 1.8f;
    const std::vector<float> table = inverseFalloffTable(v);
    for (double theta = 0; theta < 3.1; theta += 0.01)
        EXPECT_NEAR(
            Kernels::inverseFalloffAt(table.data(), float(std::cos(theta))),
            std::exp(-v.logFalloff(theta)),
            (std::abs(theta - v.reach) < 0.02 ? 4e-4 : 2e-5) * std::exp(-v.logFalloff(theta)))
            << theta;
}

}  // namespace

// The run around the longitude circle that a camera's footprint and a pair's overlap are cut
// to: the widest gap is left out wherever it lies, a run across the seam continues from
// column 0, and a gap of one column still counts as a gap.
TEST(StitchAnalysis, CircularRunLeavesOutTheWidestGap) {
    auto run = [](const std::string& marks) {
        std::vector<char> marked;
        for (char c : marks) marked.push_back(c == '#' ? 1 : 0);
        return circularRun(marked);
    };
    using Run = std::pair<int, int>;
    EXPECT_EQ(run("..###....."), Run(2, 3));
    EXPECT_EQ(run("##......##"), Run(8, 4));  // across the seam
    EXPECT_EQ(run("#.##...#.#"), Run(7, 7));  // the three-column gap is the widest
    EXPECT_EQ(run("####.#####"), Run(5, 9));  // one unmarked column
    EXPECT_EQ(run(".#........"), Run(1, 1));
    EXPECT_EQ(run("##########"), Run(0, 10));
    EXPECT_EQ(run(".........."), Run(0, 0));
    EXPECT_EQ(run(""), Run(0, 0));
    // Of equally wide gaps, the first from column 0 is left out.
    EXPECT_EQ(run("#..#..#.."), Run(3, 7));
}

// The overlaps are weighed by the part of the sphere they cover, not by their pixels: two
// cameras that both see the whole panorama, the second twice as bright within 30 degrees of
// the north pole (flare, say) and as bright elsewhere. That cap is a sixth of the panorama's
// rows but 6.7 % of the sphere, so the gains split a ratio of 1.067, not of 1.167.
TEST(StitchAnalysis, GainsWeighTheOverlapBySolidAngle) {
    constexpr int w = 64, h = 36;
    HostImage a(w, h, 4, 1.0f), b(w, h, 4, 1.0f);
    double area = 0, cap = 0;
    for (int y = 0; y < h; ++y) {
        const double latitude = ((y + 0.5) / h - 0.5) * kPi;
        const bool bright = latitude > 60 * kDegree;
        area += std::cos(latitude);
        if (bright) cap += std::cos(latitude);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                a.at(x, y, c) = 0.4f;
                b.at(x, y, c) = bright ? 0.8f : 0.4f;
            }
    }
    const double expected = 1.0 + cap / area;  // the mean of b over a, by solid angle
    EXPECT_NEAR(expected, 1.067, 0.002);
    const auto gains = estimateGains({a, b});
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(gains[0][c] / gains[1][c], expected, 0.002) << c;
}
