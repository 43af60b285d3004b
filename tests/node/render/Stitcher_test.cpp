// SPDX-License-Identifier: Apache-2.0
#include "render/Stitcher.h"

#include <gtest/gtest.h>

#include "RenderTestImages.h"
#include "render/kernels/Resample.h"
#include "slib/ImagePyramids/GaussianImagePyramidFactory.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>

using namespace Kiln;
using namespace Kiln::ImageStitcher;

namespace {

constexpr auto px = Korvane::Research::test::pixel;

using Colour = std::function<std::array<float, 3>(float, float)>;

/// The same colour everywhere.
Colour flat(float r, float g, float b) {
    return [=](float, float) { return std::array<float, 3>{r, g, b}; };
}

/// A grey scene of brightness value(x, y).
Colour grey(const std::function<float(float, float)>& value) {
    return [value](float x, float y) {
        const float v = value(x, y);
        return std::array<float, 3>{v, v, v};
    };
}

/// Whether row y of two RGBA images holds the same bytes.
bool sameRow(const Image& a, const Image& b, int y) {
    return std::memcmp(a.row(y), b.row(y), std::size_t(a.box().width()) * 16) == 0;
}

Image copyOf(const Image& image) {
    Image out(image.info(), nullptr);
    out.copyFrom(image);
    return out;
}

/// A premultiplied RGBA camera over `box`: colour(x, y) where seen(x, y), else transparent.
Image camera(const Box& box, const std::function<bool(int, int)>& seen, const Colour& colour) {
    const auto fill = [&](int x, int y, int c) {
        return !seen(x, y) ? 0.0f : c == 3 ? 1.0f : colour(x + 0.5f, y + 0.5f)[size_t(c)];
    };
    return Korvane::Research::test::makeImage(box.width(), box.height(), 4, fill, box.x0, box.y0);
}

/// Columns [from, to) of the panorama, wrapping around its width.
std::function<bool(int, int)> band(int from, int to, int width) {
    return [=](int x, int) {
        const int a = ((x - from) % width + width) % width;
        return a < ((to - from) % width + width) % width;
    };
}

/// Smooth texture at several scales, for the flow to lock on to.
struct Texture {
    std::vector<std::array<float, 4>> waves;  // kx, ky, phase, amplitude
    explicit Texture(unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> u(0, 1);
        for (int i = 0; i < 12; ++i) {
            const float wavelength = 6 + 30 * u(rng);
            const float angle = 6.2831853f * u(rng);
            waves.push_back({6.2831853f / wavelength * std::cos(angle),
                             6.2831853f / wavelength * std::sin(angle),
                             6.2831853f * u(rng),
                             0.04f + 0.04f * u(rng)});
        }
    }
    float operator()(float x, float y) const {
        float v = 0.5f;
        for (const auto& w : waves) v += w[3] * std::sin(w[0] * x + w[1] * y + w[2]);
        return v;
    }
};

struct Result {
    Image panorama;
    Stitcher stitcher;
};

/// Over `output`, or the first image's box when it is empty.
void run(Stitcher& s,
         const std::vector<Image>& images,
         BlendType type,
         bool expand,
         int smallestLevel = 4,
         const Box& output = {}) {
    std::vector<int> list;
    for (std::size_t i = 0; i < images.size(); ++i) {
        list.push_back(int(i));
        s.setCameraImage(int(i), images[i]);
    }
    s.setOutputBox(output.empty() ? images[0].box() : output);
    s.setBlendType(type);
    s.setSmallestLevelSize(smallestLevel);
    s.setExpand(expand);
    s.setCameraList(list);
    s.build();
}

const BlendType kTypes[] = {BlendType::Alpha, BlendType::MultiBand, BlendType::SphericalMultiBand};

Image like(const Image& image, int channels) {
    Info info = image.info();
    info.channels = channels;
    return Image(info, nullptr, {}, Image::kClearOnAllocate);
}

/// Multi-band blending written out level by level with the pyramid factory, without expand
/// (cut to the cameras' coverage): per camera, Gaussian pyramids of its premultiplied image and
/// of its seam mask; each level filled outside the camera from its coarser fill, F_k = P_k +
/// (1 - a_k) expand(F_k+1), the coarsest P / a; bands F_k - expand(F_k+1) times the camera's
/// gains; at every level the mask-weighted mean of the bands; collapsed. Where the coarsest
/// level holds none of the camera, its fill is the camera's mean colour. The cameras marked
/// `round` are filtered as a sphere, the others as a plane; the collapse is spherical when
/// any camera is.
Image referenceBlend(const Stitcher& s,
                     const std::vector<Image>& cams,
                     const std::vector<bool>& round) {
    using Korvane::SLIB::ImagePyramids::GaussianImagePyramidFactory;
    using Korvane::SLIB::ImagePyramids::ImagePyramid;
    GaussianImagePyramidFactory planar, sphere;
    planar.setSmallestLevelSize(s.smallestLevelSize());
    sphere.setSmallestLevelSize(s.smallestLevelSize());
    sphere.setSpherical(true);
    const bool anyRound = std::find(round.begin(), round.end(), true) != round.end();
    const GaussianImagePyramidFactory& factory = anyRound ? sphere : planar;
    const Image& labels = s.seamLabels();
    const int count = int(factory.levelBoxes(s.outputBox()).size());
    std::vector<Image> sums, weights;
    for (const Box& b : factory.levelBoxes(s.outputBox())) {
        Info info;
        info.box = b;
        info.channels = 4;
        sums.push_back(Image(info, nullptr, {}, Image::kClearOnAllocate));
        weights.push_back(like(sums.back(), 1));
    }
    auto each = [](const Image& image, const std::function<void(int, int)>& f) {
        for (int y = image.box().y0; y < image.box().y1; ++y)
            for (int x = image.box().x0; x < image.box().x1; ++x) f(x, y);
    };
    for (std::size_t c = 0; c < cams.size(); ++c) {
        Image mask = like(cams[c], 1);
        each(mask, [&](int x, int y) {
            const float* l = px(labels, x, y);
            *px(mask, x, y) = l[0] > 0 && l[1] == float(c) ? 1.0f : 0.0f;
        });
        // Where the coarsest level holds (almost) none of the camera: its mean colour.
        double sum[4] = {0, 0, 0, 0};
        each(cams[c], [&](int x, int y) {
            for (int i = 0; i < 4; ++i) sum[i] += px(cams[c], x, y)[i];
        });
        const float mean[3] = {
            float(sum[0] / sum[3]), float(sum[1] / sum[3]), float(sum[2] / sum[3])};
        const GaussianImagePyramidFactory& own = round[c] ? sphere : planar;
        ImagePyramid colour = own.buildGaussian(cams[c]);
        const ImagePyramid w = own.buildGaussian(mask);
        std::vector<Image> filled(count);
        for (int k = count - 1; k >= 0; --k) {
            filled[k] = like(colour[k], 4);
            Image e = like(colour[k], 4);
            if (k < count - 1) own.expand(filled[k + 1], e, e, 0.0f, 1.0f);
            each(colour[k], [&](int x, int y) {
                const float* p = px(colour[k], x, y);
                const float* ex = px(e, x, y);
                float* f = px(filled[k], x, y);
                float* a = px(sums[k], x, y);
                const float wk = *px(w[k], x, y);
                for (int i = 0; i < 3; ++i) {
                    if (k < count - 1)
                        f[i] = p[i] + (1 - std::clamp(p[3], 0.0f, 1.0f)) * ex[i];
                    else
                        f[i] = p[3] > 1e-3f ? p[i] / p[3] : mean[i];
                    a[i] += wk * s.gains(int(c))[i] * (f[i] - ex[i]);
                }
                *px(weights[k], x, y) += wk;
            });
        }
    }
    for (int k = 0; k < count; ++k)
        each(sums[k], [&](int x, int y) {
            const float w = *px(weights[k], x, y);
            for (int i = 0; i < 3; ++i)
                px(sums[k], x, y)[i] = w > 1e-6f ? px(sums[k], x, y)[i] / w : 0;
        });
    for (int k = count - 2; k >= 0; --k) factory.expand(sums[k + 1], sums[k], sums[k], 1.0f, 1.0f);
    each(sums[0], [&](int x, int y) {
        const float coverage = px(labels, x, y)[2];
        for (int i = 0; i < 3; ++i) px(sums[0], x, y)[i] *= coverage;
        px(sums[0], x, y)[3] = coverage;
    });
    return sums[0];
}

}  // namespace

TEST(Stitcher, VectorDetailSetsTheGrid) {
    EXPECT_EQ(Stitcher::vectorFieldBoxFor(0.4f), (Box{0, 0, 820, 410}));
    EXPECT_EQ(Stitcher::vectorFieldBoxFor(1.0f), (Box{0, 0, 2048, 1024}));
    EXPECT_TRUE(Stitcher::vectorFieldBoxFor(0.0f).empty());
}

TEST(Stitcher, AConstantImageStaysConstantInEveryMode) {
    const Box box{0, 0, 128, 64};
    const Colour grey = flat(0.3f, 0.5f, 0.7f);
    // Overlapping bands, one across the longitude seam, a round footprint, and a strip of
    // columns 100..108 that no camera sees.
    std::vector<Image> cams = {
        camera(box, band(0, 50, 128), grey),
        camera(box, band(40, 100, 128), grey),
        camera(box, band(108, 10, 128), grey),
        camera(
            box, [](int x, int y) { return std::hypot(x - 60, y - 30) < 20; }, grey)};
    for (const BlendType type : kTypes)
        for (const bool expand : {true, false}) {
            Stitcher s;
            run(s, cams, type, expand);
            const Image& p = s.panorama();
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 128; ++x) {
                    const float* o = px(p, x, y);
                    const bool unseen = x >= 100 && x < 108;
                    const bool filled = !unseen || (expand && type != BlendType::Alpha);
                    const float a = filled ? 1.0f : 0.0f;
                    ASSERT_NEAR(o[3], a, 1e-4) << int(type) << expand << " at " << x << "," << y;
                    ASSERT_NEAR(o[0], 0.3f * a, 1e-4)
                        << int(type) << expand << " " << x << "," << y;
                    ASSERT_NEAR(o[2], 0.7f * a, 1e-4)
                        << int(type) << expand << " " << x << "," << y;
                }
        }
}

TEST(Stitcher, UnseenCamerasContributeNothingAndBadCamerasAreNamed) {
    const Box box{0, 0, 96, 48};
    const Texture t(5);
    const auto colour = [&](float x, float y) {
        return std::array<float, 3>{t(x, y), t(y, x), 0.5f};
    };
    std::vector<Image> cams = {camera(box, band(0, 60, 96), colour),
                               camera(box, band(50, 96, 96), colour)};
    for (const BlendType type : kTypes) {
        Stitcher reference;
        run(reference, cams, type, true);
        // A camera that sees nothing: alpha 0 everywhere (its colour is left at black).
        std::vector<Image> withBlind = cams;
        withBlind.push_back(camera(
            box, [](int, int) { return false; }, colour));
        Stitcher s;
        run(s, withBlind, type, true);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 96; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_NEAR(px(s.panorama(), x, y)[c], px(reference.panorama(), x, y)[c], 1e-5)
                        << int(type) << " at " << x << "," << y;
    }

    // A build that stops at a missing camera, after a good one: no labels are left to draw
    // from the cameras it had checked.
    Stitcher missing;
    run(missing, cams, BlendType::MultiBand, true);
    missing.setCameraList({0, 2});
    try {
        missing.build();
        FAIL() << "a camera without an image was stitched";
    } catch (const StitchError& e) {
        EXPECT_NE(std::string(e.what()).find("camera 3 (cam3)"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(missing.seamLabels().empty());
    // An image may cover part of the panorama, never reach outside it.
    Stitcher wrongBox;
    wrongBox.setOutputBox({0, 8, 96, 48});
    wrongBox.setCameraImage(0, cams[0]);
    wrongBox.setCameraList({0});
    try {
        wrongBox.build();
        FAIL() << "an image reaching outside the panorama was stitched";
    } catch (const StitchError& e) {
        EXPECT_NE(std::string(e.what()).find("camera 1 (cam1)"), std::string::npos) << e.what();
    }
}

TEST(Stitcher, VectorFieldRecoversAKnownShiftAndIsZeroWithoutOverlap) {
    const Box box{0, 0, 512, 256};
    const Texture t(11);
    const float sx = 1.5f, sy = -0.75f;
    const Colour a = grey(t);
    // Camera 2 shows the scene moved by (sx, sy): it sees at x + s what camera 1 sees at x.
    const Colour b = grey([&](float x, float y) { return t(x - sx, y - sy); });
    std::vector<Image> cams = {camera(box, band(0, 300, 512), a),
                               camera(box, band(200, 512, 512), b)};
    Stitcher s;
    s.setVectorDetail(0.25f);  // a 512 x 256 grid: one cell per pixel
    s.setLinks({{0, 1}});
    run(s, cams, BlendType::MultiBand, true);
    const Image f1 = s.vectorField(0), f2 = s.vectorField(1);
    ASSERT_FALSE(f1.empty());
    // Inside the overlap (columns 200..300), away from its edges, D2 - D1 is the shift.
    for (int y = 40; y < 216; y += 16)
        for (int x = 230; x < 270; x += 8) {
            EXPECT_NEAR(px(f2, x, y)[0] - px(f1, x, y)[0], sx, 0.1) << x << "," << y;
            EXPECT_NEAR(px(f2, x, y)[1] - px(f1, x, y)[1], sy, 0.1) << x << "," << y;
        }
    EXPECT_LT(s.vectorFieldStats().largestJump, 0.5f) << "the field stays smooth";
    // Far from the overlap both fields vanish.
    EXPECT_NEAR(px(f1, 100, 128)[0], 0.0f, 1e-3);
    EXPECT_NEAR(px(f2, 400, 128)[0], 0.0f, 1e-3);

    // Cameras that do not overlap: zero fields, and the blend keeps each camera.
    std::vector<Image> apart = {camera(box, band(0, 200, 512), a),
                                camera(box, band(256, 480, 512), b)};
    Stitcher s2;
    s2.setVectorDetail(0.25f);
    s2.setLinks({{0, 1}});
    run(s2, apart, BlendType::MultiBand, false);
    EXPECT_EQ(s2.vectorFieldStats().pairs, 0);
    for (int y = 0; y < 256; y += 7)
        for (int x = 0; x < 512; x += 7) {
            ASSERT_EQ(px(s2.vectorField(0), x, y)[0], 0.0f);
            const bool inside1 = x < 200, inside2 = x >= 256 && x < 480;
            if (!inside1 && !inside2) continue;
            const float want = inside1 ? t(x + 0.5f, y + 0.5f) : t(x + 0.5f - sx, y + 0.5f - sy);
            ASSERT_NEAR(px(s2.panorama(), x, y)[0], want, 1e-2) << x << "," << y;
        }
}

TEST(Stitcher, ExposureGainsUndoKnownCameraGains) {
    const Box box{0, 0, 256, 128};
    const Texture t(7);
    const float applied[3] = {2.0f, 0.5f, 1.0f};  // +1, -1, 0 stop
    std::vector<Image> cams;
    for (int i = 0; i < 3; ++i) {
        const float g = applied[i];
        cams.push_back(camera(box, band(i * 85 - 20, i * 85 + 105, 256), [&, g](float x, float y) {
            return std::array<float, 3>{g * t(x, y), g * 0.8f * t(y, x), g * 0.3f};
        }));
    }
    Stitcher s;
    run(s, cams, BlendType::MultiBand, true);
    for (int c = 0; c < 3; ++c) {
        const float first = s.gains(0)[c] * applied[0];
        for (int i = 1; i < 3; ++i)
            EXPECT_NEAR(s.gains(i)[c] * applied[i] / first, 1.0f, 0.01f) << i << " " << c;
    }
    // The geometric mean of the applied gains is 1, so the compensated rig is the scene itself.
    EXPECT_NEAR(px(s.panorama(), 128, 64)[2], 0.3f, 0.01f);
    Stitcher off;
    off.setExposureCompensation(false);
    run(off, cams, BlendType::MultiBand, true);
    EXPECT_EQ(off.gains(1)[0], 1.0f);
}

TEST(Stitcher, ExpandFillsFarFromEveryCameraWithoutBlack) {
    // One ring of cameras around the middle rows; the caps lie beyond the reach of the coarsest
    // level's filters (smallest level 64 on 256 rows: 3 levels).
    const Box box{0, 0, 512, 256};
    const Colour grey = flat(0.2f, 0.4f, 0.6f);
    const auto ring = [](int from, int to) {
        return [=](int x, int y) { return y >= 100 && y < 156 && x >= from && x < to; };
    };
    std::vector<Image> cams = {camera(box, ring(0, 300), grey), camera(box, ring(250, 512), grey)};
    for (const BlendType type : {BlendType::MultiBand, BlendType::SphericalMultiBand}) {
        Stitcher s;
        run(s, cams, type, true, 64);
        for (int y = 0; y < 256; y += 5)
            for (int x = 0; x < 512; x += 5) {
                const float* o = px(s.panorama(), x, y);
                ASSERT_NEAR(o[0], 0.2f, 1e-4) << int(type) << " at " << x << "," << y;
                ASSERT_NEAR(o[2], 0.6f, 1e-4) << int(type) << " at " << x << "," << y;
                ASSERT_EQ(o[3], 1.0f);
            }
    }
}

TEST(Stitcher, MultiBandEqualsTheBlendWrittenOutLevelByLevel) {
    // Bands of rows around the whole panorama (every camera's work covers all of it), one of
    // them darker so that the gains differ from 1, and a textured scene so every band carries
    // content. y is up: camera 0 sees the lower rows. Cameras 0 and 1 reach the poles all the
    // way around, so they are filtered as a sphere in either blend.
    const Box box{0, 0, 256, 128};
    const Texture t(9);
    const auto lit = [&](float gain) {
        return [&t, gain](float x, float y) {
            return std::array<float, 3>{gain * t(x, y), gain * t(y, x), gain * 0.4f};
        };
    };
    const std::vector<Image> cams = {
        camera(
            box, [](int, int y) { return y < 80; }, lit(1.0f)),
        camera(
            box, [](int, int y) { return y >= 52; }, lit(0.7f)),
        camera(
            box, [](int x, int y) { return std::hypot(x - 180, y - 66) < 24; }, lit(1.2f))};
    for (const BlendType type : {BlendType::MultiBand, BlendType::SphericalMultiBand}) {
        Stitcher s;
        run(s, cams, type, false);
        ASSERT_NE(s.gains(1)[0], 1.0f);
        const Image reference =
            referenceBlend(s, cams, {true, true, type == BlendType::SphericalMultiBand});
        float worst = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                for (int c = 0; c < 4; ++c)
                    worst = std::max(worst,
                                     std::abs(px(s.panorama(), x, y)[c] - px(reference, x, y)[c]));
        EXPECT_LT(worst, 1e-5f) << int(type);
    }
}

namespace {

/// `image` with Gaussian noise of `sigma` added to its colour where it sees (a sensor's noise,
/// different on every frame).
Image noisy(const Image& image, unsigned seed, float sigma) {
    Image out = copyOf(image);
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, sigma);
    for (int y = out.box().y0; y < out.box().y1; ++y)
        for (int x = out.box().x0; x < out.box().x1; ++x) {
            float* p = px(out, x, y);
            if (p[3] > 0.0f)
                for (int c = 0; c < 3; ++c) p[c] += p[3] * noise(rng);
        }
    return out;
}

}  // namespace

TEST(Stitcher, SensorNoiseAndVignettingDoNotMoveTheVectorField) {
    // Two cameras over columns 0..300 and 200..512 of a one-cell-per-pixel grid; each "frame"
    // draws new noise: sigma 0.004 per cell, more than a sensor's 0.003 per pixel leaves on a
    // grid cell of several panorama pixels (about 1 level of 8-bit display luma here).
    const float kNoise = 0.004f;
    const Box box{0, 0, 512, 256};
    const Texture t(11);
    const Colour still = grey(t), even = flat(0.4f, 0.4f, 0.4f);
    const float sx = 1.5f, sy = -0.75f;
    const Colour moved = grey([&](float x, float y) { return t(x - sx, y - sy); });
    auto fields = [&](const Colour& first, const Colour& second, unsigned frame) {
        Stitcher s;
        s.setVectorDetail(0.25f);
        s.setLinks({{0, 1}});
        run(s,
            {noisy(camera(box, band(0, 300, 512), first), 2 * frame, kNoise),
             noisy(camera(box, band(200, 512, 512), second), 2 * frame + 1, kNoise)},
            BlendType::MultiBand,
            true);
        return std::make_pair(s.vectorField(0), s.vectorField(1));
    };
    // The second camera's lens vignettes: 25 % darker toward its edge at column 200.
    const Colour vignetted = grey([&](float x, float y) {
        return t(x, y) * (1.0f - 0.25f * std::pow(std::clamp((356 - x) / 156, 0.f, 1.f), 2));
    });
    // Aligned cameras, textured, flat or vignetted: the noise and the vignetting alone move
    // nothing, on any frame.
    for (const auto& [first, second] : {std::make_pair(still, still),
                                        std::make_pair(even, even),
                                        std::make_pair(still, vignetted)})
        for (unsigned frame = 1; frame <= 2; ++frame) {
            const auto [f1, f2] = fields(first, second, frame);
            for (int y = 0; y < 256; ++y)
                for (int x = 0; x < 512; ++x)
                    ASSERT_TRUE(px(f1, x, y)[0] == 0 && px(f1, x, y)[1] == 0 &&
                                px(f2, x, y)[0] == 0 && px(f2, x, y)[1] == 0)
                        << "frame " << frame << " at " << x << "," << y;
        }
    // A real shift is still recovered through the noise, and two frames with different noise
    // give nearly the same field.
    const auto [a1, a2] = fields(still, moved, 1);
    const auto [b1, b2] = fields(still, moved, 2);
    double change = 0;
    int cells = 0;
    for (int y = 40; y < 216; y += 8)
        for (int x = 230; x < 270; x += 4) {
            EXPECT_NEAR(px(a2, x, y)[0] - px(a1, x, y)[0], sx, 0.15) << x << "," << y;
            EXPECT_NEAR(px(a2, x, y)[1] - px(a1, x, y)[1], sy, 0.15) << x << "," << y;
            for (int c = 0; c < 2; ++c)
                change += std::abs(px(a1, x, y)[c] - px(b1, x, y)[c]) +
                          std::abs(px(a2, x, y)[c] - px(b2, x, y)[c]);
            ++cells;
        }
    EXPECT_LT(change / cells, 0.05) << "mean change between frames, pixels";
}

TEST(Stitcher, AVectorFieldAroundTheWholeCircleHasNoSeam) {
    // Two cameras that both see a ring of rows around the whole panorama (as wide lenses do
    // toward a pole): the field recovers the shift on both sides of the longitude seam and does
    // not jump there.
    const Box box{0, 0, 512, 256};
    const float sx = 1.5f, sy = -0.75f;
    const auto ring = [](float x, float y) {
        float v = 0.5f;
        const float k = 6.2831853f / 512.0f;
        for (int n = 1; n <= 4; ++n)
            v += 0.08f / float(n) * std::sin(k * float(7 * n + 3) * x + float(n)) *
                 std::cos(0.11f * float(n + 1) * y + float(2 * n));
        return v;
    };
    const Colour a = grey(ring), b = grey([&](float x, float y) { return ring(x - sx, y - sy); });
    const std::vector<Image> cams = {camera(
                                         box, [](int, int y) { return y < 170; }, a),
                                     camera(
                                         box, [](int, int y) { return y >= 90; }, b)};
    Stitcher s;
    s.setVectorDetail(0.25f);  // one cell per pixel
    s.setLinks({{0, 1}});
    run(s, cams, BlendType::MultiBand, true);
    const Image f0 = s.vectorField(0), f1 = s.vectorField(1);
    ASSERT_FALSE(f0.empty());
    for (int y = 116; y < 146; y += 6)
        for (const int x : {500, 506, 511, 0, 5, 11}) {
            EXPECT_NEAR(px(f1, x, y)[0] - px(f0, x, y)[0], sx, 0.15) << x << "," << y;
            EXPECT_NEAR(px(f1, x, y)[1] - px(f0, x, y)[1], sy, 0.15) << x << "," << y;
        }
    EXPECT_LT(s.vectorFieldStats().largestJump, 0.5f) << "the field stays smooth";
}

TEST(Stitcher, AlignedCamerasShowTheCameraAtQPlusTheField) {
    // Each camera is resampled once through its field: the aligned camera at q is the camera,
    // through the renderer's Cubic filter, at q + D(q), with D read bilinearly from the field
    // grid (x wrapping). Checked on a field of a third of the panorama's resolution, around the
    // overlap and across the longitude seam, where camera 1 reaches.
    const Box box{0, 0, 384, 192};
    const Texture t(21);
    const std::vector<Image> cams = {camera(box, band(0, 230, 384), grey(t)),
                                     camera(box, band(150, 20, 384), grey([&](float x, float y) {
                                                return t(x - 2.0f, y - 1.0f);
                                            }))};
    Stitcher s;
    s.setVectorDetail(64.0f / 1024.0f);  // a 128 x 64 grid
    s.setLinks({{0, 1}});
    run(s, cams, BlendType::Alpha, false);
    ASSERT_EQ(s.vectorFieldBox(), (Box{0, 0, 128, 64}));
    auto sample =
        [](auto filter, const Image& image, float x, float y, int c, bool zeroBeyondRows) {
            constexpr int kTaps = decltype(filter)::kTaps, kFirst = 1 - kTaps / 2;
            const int w = image.box().width(), h = image.box().height();
            const float fx = x - 0.5f - float(image.box().x0),
                        fy = y - 0.5f - float(image.box().y0);
            const int ix = int(std::floor(fx)), iy = int(std::floor(fy));
            float wx[kTaps], wy[kTaps], v = 0;
            decltype(filter)::weights(fx - float(ix), wx);
            decltype(filter)::weights(fy - float(iy), wy);
            for (int j = 0; j < kTaps; ++j)
                for (int i = 0; i < kTaps; ++i) {
                    int yy = iy + kFirst + j;
                    if (yy < 0 || yy >= h) {
                        if (zeroBeyondRows) continue;
                        yy = std::clamp(yy, 0, h - 1);
                    }
                    const int xx = ((ix + kFirst + i) % w + w) % w;
                    v += wy[j] * wx[i] * px(image, image.box().x0 + xx, image.box().y0 + yy)[c];
                }
            return v;
        };
    using Korvane::Research::Kernels::BilinearFilter;
    using Korvane::Research::Kernels::CubicFilter;
    const Image field = s.vectorField(1), aligned = s.alignedCamera(1);
    int moved = 0;
    for (int y = 20; y < 172; y += 5)
        for (int x = 140; x < 384 + 30; x += 3) {
            const int q = x % 384;
            if (!aligned.box().contains(q, y)) continue;
            const float fx = (q + 0.5f) / 3.0f, fy = (y + 0.5f) / 3.0f;
            const float dx = sample(BilinearFilter{}, field, fx, fy, 0, false);
            const float dy = sample(BilinearFilter{}, field, fx, fy, 1, false);
            moved += std::hypot(dx, dy) > 0.5f;
            for (int c = 0; c < 4; ++c)
                ASSERT_NEAR(px(aligned, q, y)[c],
                            sample(CubicFilter{}, cams[1], q + 0.5f + dx, y + 0.5f + dy, c, true),
                            1e-4)
                    << q << "," << y << " channel " << c;
        }
    EXPECT_GT(moved, 100) << "the field moves camera 1 over its overlap";
    // The aligned image covers everything the camera sees.
    EXPECT_TRUE(aligned.box().contains(150, 96) && aligned.box().contains(19, 96));
}

TEST(Stitcher, BuildingAgainEqualsAFreshStitcherAndLeavesEarlierPanoramasAlone) {
    // One stitcher through frames whose cameras move (footprints change: kept images of the
    // old shapes must not leak in), whose blend and expand change, and whose panorama size
    // changes; every frame must equal a fresh stitcher's, bit for bit, and a panorama kept
    // from an earlier frame must not change.
    const Texture t(4);
    const auto colour = [&](float x, float y) {
        return std::array<float, 3>{t(x, y), t(y, x), 0.3f};
    };
    const auto frame = [&](const Box& box, int shift) {
        const int w = box.width();
        return std::vector<Image>{
            camera(box, band(shift, shift + w / 2, w), colour),
            camera(box, band(shift + w / 3, shift + w, w), colour),
            camera(
                box,
                [=](int x, int y) { return std::hypot(x - 40 - shift, y - 30) < 14 + shift; },
                colour)};
    };
    struct Step {
        Box box;
        int shift;
        BlendType type;
        bool expand;
    };
    const Step steps[] = {{{0, 0, 128, 64}, 0, BlendType::MultiBand, false},
                          {{0, 0, 128, 64}, 9, BlendType::MultiBand, true},
                          {{0, 0, 128, 64}, 9, BlendType::SphericalMultiBand, false},
                          {{0, 0, 128, 64}, 3, BlendType::Alpha, true},
                          {{0, 0, 96, 48}, 5, BlendType::MultiBand, false},
                          {{0, 0, 128, 64}, 0, BlendType::MultiBand, false}};
    Stitcher kept;
    Image first;
    Image firstCopy;
    for (const Step& step : steps) {
        const std::vector<Image> cams = frame(step.box, step.shift);
        run(kept, cams, step.type, step.expand);
        Stitcher fresh;
        run(fresh, cams, step.type, step.expand);
        int differ = 0;
        for (int y = step.box.y0; y < step.box.y1; ++y) {
            differ += !sameRow(kept.panorama(), fresh.panorama(), y);
            differ += !sameRow(kept.seamLabels(), fresh.seamLabels(), y);
        }
        EXPECT_EQ(differ, 0) << "shift " << step.shift << " type " << int(step.type);
        if (first.empty()) {
            first = kept.panorama();
            firstCopy = copyOf(first);
        }
    }
    // A copy keeps no working images of the original: its builds leave the original's labels.
    const Image labels = kept.seamLabels();
    const Image labelsCopy = copyOf(labels);
    Stitcher copy = kept;
    run(copy, frame(labels.box(), 20), BlendType::MultiBand, true);
    for (int y = labels.box().y0; y < labels.box().y1; ++y)
        ASSERT_TRUE(sameRow(labels, labelsCopy, y)) << "label row " << y;
    for (int y = first.box().y0; y < first.box().y1; ++y)
        ASSERT_TRUE(sameRow(first, firstCopy, y)) << "row " << y;
}

TEST(Stitcher, SeamLabelsAndBandsDoNotDependOnHowTheBlendReadsThem) {
    // An output box at an odd origin with an odd height, so that the pyramids' levels and the
    // cameras' work boxes start on odd rows; cameras touching the box's edges. Every blend
    // draws the same seam labels (Alpha draws them alone, Multi-Band along with each camera's
    // first reduce, and with expand keeps two channels of them for itself), and where every
    // pixel is seen by a camera, Multi-Band with expand equals Multi-Band without it (up to
    // rounding).
    const Box box{3, 5, 3 + 136, 5 + 67};
    const Texture t(6);
    const auto colour = [&](float x, float y) {
        return std::array<float, 3>{t(x, y), t(y, x), 0.2f + 0.5f * t(x, x)};
    };
    const std::vector<Image> cams = {
        camera(
            box, [](int x, int) { return x < 70; }, colour),
        camera(
            box, [](int x, int y) { return x >= 52 || y >= 50; }, colour),
        camera(
            box, [](int x, int y) { return std::hypot(x - 60, y - 30) < 17; }, colour)};
    Stitcher alpha;
    run(alpha, cams, BlendType::Alpha, true);
    ASSERT_EQ(alpha.seamLabels().channels(), 4);
    // A smallest level size of 100 leaves a pyramid of one level: no bands, one normalise.
    for (const int smallest : {4, 100})
        for (const BlendType type : {BlendType::MultiBand, BlendType::SphericalMultiBand}) {
            Stitcher cut, expanded;
            run(cut, cams, type, false, smallest);
            run(expanded, cams, type, true, smallest);
            const std::string name =
                "type " + std::to_string(int(type)) + ", smallest " + std::to_string(smallest);
            for (const Stitcher* s : {&cut, &expanded}) {
                ASSERT_EQ(s->seamLabels().channels(), 4);
                int differ = 0;
                for (int y = box.y0; y < box.y1; ++y)
                    differ += !sameRow(s->seamLabels(), alpha.seamLabels(), y);
                EXPECT_EQ(differ, 0) << name << ", expand " << (s == &expanded);
            }
            float worst = 0;
            for (int y = box.y0; y < box.y1; ++y)
                for (int x = box.x0; x < box.x1; ++x) {
                    ASSERT_EQ(px(cut.panorama(), x, y)[3], 1.0f) << x << "," << y;
                    for (int c = 0; c < 4; ++c)
                        worst = std::max(worst,
                                         std::abs(px(cut.panorama(), x, y)[c] -
                                                  px(expanded.panorama(), x, y)[c]));
                }
            // With expand the coarsest sums are filled where their weights fall short of 1, by
            // rounding here.
            EXPECT_LT(worst, 1e-6f) << name;
        }
}

TEST(Stitcher, VectorFieldsWithLittleSmoothingRecoverAKnownShiftUpToTheGridsEdges) {
    // At 1.5 cells of smoothing the crop's margin is narrower than the flow's own margin
    // around the overlap, and the overlap runs from the grid's first row to its last.
    const int w = 256, h = 96;
    const Texture t(5);
    const float sx = 1.0f, sy = 0.5f;
    std::vector<HostImage> cameras(2, HostImage(w, h, 4, 0.0f));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool first = x < 150, second = x >= 100;
            for (int c = 0; c < 3; ++c) {
                if (first) cameras[0].at(x, y, c) = t(x + 0.5f, y + 0.5f);
                if (second) cameras[1].at(x, y, c) = t(x + 0.5f - sx, y + 0.5f - sy);
            }
            cameras[0].at(x, y, 3) = first ? 1.0f : 0.0f;
            cameras[1].at(x, y, 3) = second ? 1.0f : 0.0f;
        }
    VectorFieldStats stats;
    const std::vector<HostImage> fields =
        computeVectorFields(cameras, {{1, 1, 1}, {1, 1, 1}}, {{0, 1}}, &stats, 1.5f);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(stats.pairs, 1);
    // Rows within 60 degrees of the equator (the field fades toward the poles), away from the
    // overlap's sides.
    for (int y = 20; y < 76; y += 5)
        for (int x = 115; x < 136; x += 5) {
            EXPECT_NEAR(fields[1].at(x, y, 0) - fields[0].at(x, y, 0), sx, 0.1) << x << "," << y;
            EXPECT_NEAR(fields[1].at(x, y, 1) - fields[0].at(x, y, 1), sy, 0.1) << x << "," << y;
        }
    for (int y = 0; y < h; y += 5) {
        EXPECT_EQ(fields[0].at(40, y, 0), 0.0f);
        EXPECT_EQ(fields[1].at(220, y, 1), 0.0f);
    }
}

TEST(Stitcher, TheFalloffDividedOutWhileBlendingEqualsBlendingCorrectedCameras) {
    // Two textured cameras over the lower and upper rows of the sphere, their lenses darker by
    // exp(-0.25 theta^2) away from their axes. The stitcher fits that falloff and divides it
    // out as it reads each camera (Alpha with its weights; Multi-Band from level 1 and in the
    // finest band, odd origin, each pyramid layout): the panorama must be that of the cameras
    // corrected beforehand (alignedCamera) times their gains, blended without compensation.
    const Box box{5, 3, 5 + 1024, 3 + 512};
    const Texture t(4);
    const std::array<std::array<float, 3>, 2> axes{{{0.3f, -0.6f, 0.7f}, {-0.5f, 0.6f, 0.6f}}};
    std::vector<Image> cams;
    for (int c = 0; c < 2; ++c) {
        const AxisCosines cosines(axes[c], box, box.x0, box.y0, box.width(), box.height());
        cams.push_back(camera(
            box,
            [c](int, int y) { return c == 0 ? y < 3 + 320 : y >= 3 + 208; },
            [&, c](float x, float y) {
                const double theta = std::acos(cosines.at(int(x), int(y)));
                const float v = float(std::exp(-0.25 * theta * theta)) * (c == 0 ? 1.0f : 0.8f);
                return std::array<float, 3>{v * t(x, y), v * t(y, x), v * 0.5f};
            }));
    }
    for (const BlendType type : kTypes)
        for (const int smallest : {16, 1000}) {
            Stitcher folded, corrected;
            folded.setCameraAxis(0, axes[0]);
            folded.setCameraAxis(1, axes[1]);
            run(folded, cams, type, false, smallest);
            ASSERT_FALSE(folded.vignetting(0).identity());
            std::vector<Image> inputs;
            for (int c = 0; c < 2; ++c) {
                Image in(cams[c].info(), nullptr, {}, Image::kClearOnAllocate);
                in.copyFrom(folded.alignedCamera(c));
                for (int y = box.y0; y < box.y1; ++y)
                    for (int x = box.x0; x < box.x1; ++x)
                        for (int k = 0; k < 3; ++k) px(in, x, y)[k] *= folded.gains(c)[k];
                inputs.push_back(in);
            }
            corrected.setExposureCompensation(false);
            run(corrected, inputs, type, false, smallest);
            float worst = 0;
            for (int y = box.y0; y < box.y1; ++y)
                for (int x = box.x0; x < box.x1; ++x)
                    for (int c = 0; c < 4; ++c)
                        worst = std::max(worst,
                                         std::abs(px(folded.panorama(), x, y)[c] -
                                                  px(corrected.panorama(), x, y)[c]));
            // Level 1 is divided after its reduce, not the camera before it: 8e-4 here, where
            // the falloff drops 0.6 % per pixel at 90 degrees; a level read on the wrong
            // grid, or a band left uncorrected, is off by 1e-2 and more.
            EXPECT_LT(worst, 2e-3f) << "type " << int(type) << ", smallest " << smallest;
        }
}

TEST(Stitcher, FeatherDistancesAreChamferDistancesToTheNearestUnseenPixelAcrossTheSeam) {
    // Holes scattered over a frame, one of them touching its right edge, so the nearest unseen
    // pixel of the left columns lies across the longitude seam.
    std::mt19937 rng(4);
    for (int trial = 0; trial < 6; ++trial) {
        const int w = 40 + int(rng() % 60), h = 20 + int(rng() % 40);
        HostImage image(w, h, 4, 1.0f);
        std::vector<std::pair<int, int>> unseen;
        auto hole = [&](int cx, int cy, int r) {
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) image.at(x, y, 3) = 0;
        };
        hole(w - 1, h / 2, 2);
        for (int k = 0; k < int(rng() % 4); ++k)
            hole(int(rng() % w), int(rng() % h), int(rng() % 5));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (image.at(x, y, 3) <= 0.5f) unseen.emplace_back(x, y);
        const HostImage d = featherDistance(image, 3, 0.5f);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float nearest = 1e30f;
                for (const auto& [ux, uy] : unseen) {
                    const int dx = std::min(std::abs(x - ux), w - std::abs(x - ux));
                    nearest = std::min(nearest, std::hypot(float(dx), float(y - uy)));
                }
                // Steps of 1 and sqrt 2 overestimate the Euclidean distance by 8 % at most.
                ASSERT_GE(d.at(x, y), 0.9999f * nearest) << trial << " at " << x << "," << y;
                ASSERT_LE(d.at(x, y), 1.0824f * nearest + 1e-4f)
                    << trial << " at " << x << "," << y;
            }
    }
    // Seeing everything: no boundary at all, not even the top and bottom rows.
    const HostImage all = featherDistance(HostImage(9, 5, 4, 1.0f), 3, 0.5f);
    for (float v : all.pixels) EXPECT_EQ(v, 14.0f);
}

TEST(Stitcher, TheSeamLiesHalfwayAcrossTheOverlapOnEveryRow) {
    // Camera 0 sees the rows above 160, camera 1 those from 96 down, all the way around: each
    // is deeper inside its own frame on its side of row 128, so the label changes there in
    // every column (within the feather image's half cell of 4 rows), for every blend.
    const Box box{0, 0, 256, 256};
    const std::vector<Image> cams = {
        camera(
            box, [](int, int y) { return y < 160; }, flat(0.2f, 0.4f, 0.6f)),
        camera(
            box, [](int, int y) { return y >= 96; }, flat(0.6f, 0.4f, 0.2f))};
    for (BlendType type : kTypes) {
        Stitcher s;
        run(s, cams, type, true);
        const Image& labels = s.seamLabels();
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                if (std::abs(y - 128) <= 4) continue;
                ASSERT_EQ(px(labels, x, y)[1], y < 128 ? 0.0f : 1.0f)
                    << int(type) << " at " << x << "," << y;
                ASSERT_GT(px(labels, x, y)[0], 0.0f);
            }
    }
}

TEST(Stitcher, BackToBackLensesBlendAsSmoothlyAtThePolesAsAtTheEquator) {
    // Two 190-degree lenses back to back, flat and of different brightness (no gains): their
    // seams run along meridians into both poles. The brightness step between two points 3
    // degrees either side of a seam, at the equator and 2.5 degrees from each pole: the
    // planar pyramid's rows stop at a pole, so there it was a hard step (19 times the
    // equator's).
    const Box box{0, 0, 512, 256};
    const auto lens = [](double axis) {
        return [axis](int x, int y) {
            const double lon = (x + 0.5) / 512 * 2 * M_PI - axis;
            const double lat = ((y + 0.5) / 256 - 0.5) * M_PI;
            return std::cos(lat) * std::cos(lon) >= std::cos(95.0 / 180 * M_PI);
        };
    };
    const std::vector<Image> cams = {camera(box, lens(0), flat(0.4f, 0.4f, 0.4f)),
                                     camera(box, lens(M_PI), flat(0.6f, 0.6f, 0.6f))};
    for (BlendType type : {BlendType::MultiBand, BlendType::SphericalMultiBand}) {
        Stitcher s;
        s.setExposureCompensation(false);
        run(s, cams, type, true);
        const auto step = [&](int y) {
            const double lat = ((y + 0.5) / 256 - 0.5) * M_PI;
            const int dx = int(std::lround(3.0 / std::cos(lat) / 360 * 512));
            return std::abs(px(s.panorama(), 128 + dx, y)[0] - px(s.panorama(), 128 - dx, y)[0]);
        };
        const float equator = step(128);
        EXPECT_GT(equator, 0.0f);
        for (int y : {3, 252}) EXPECT_LT(step(y), 2 * equator) << int(type) << " row " << y;
    }
}

TEST(Stitcher, CamerasOverPartOfThePanoramaStitchAsOverTheWholeOfIt) {
    // A camera across the longitude seam, one over the top pole and one in between (showing
    // the scene shifted, for the vector field), each given over the whole panorama, over
    // cameraBox() of what it sees (read in place: the same bits), and cut to exactly that
    // (parts copied first: the same up to rounding).
    const Box box{0, 0, 256, 128};
    const Texture t(9);
    const Colour a = grey(t), b = grey([&](float x, float y) { return t(x - 1.5f, y + 0.75f); });
    const std::vector<Box> seen = {{0, 20, 256, 100}, {0, 80, 256, 128}, {40, 10, 150, 110}};
    const std::vector<Image> whole = {
        camera(
            box, [](int x, int y) { return (x < 60 || x >= 200) && y >= 20 && y < 100; }, a),
        camera(
            box, [](int, int y) { return y >= 80; }, a),
        camera(
            box, [](int x, int y) { return std::hypot(x - 95, y - 60) < 50; }, b)};
    const auto cut = [&](int c, const Box& part) {
        Image image(Info{part, 4}, nullptr);
        image.copyFrom(whole[size_t(c)]);
        return image;
    };
    for (const BlendType type : kTypes)
        for (const bool linked : {false, true}) {
            if (linked && type != BlendType::MultiBand) continue;
            Stitcher full, boxed, tight;
            for (Stitcher* s : {&full, &boxed, &tight}) {
                s->setVectorDetail(0.125f);
                if (linked) s->setLinks({{0, 2}, {1, 2}});
            }
            run(full, whole, type, true);
            std::vector<Image> boxes, cuts;
            for (int c = 0; c < 3; ++c) {
                boxes.push_back(cut(c, full.cameraBox(seen[size_t(c)])));
                cuts.push_back(cut(c, seen[size_t(c)]));
            }
            run(boxed, boxes, type, true, 4, box);
            run(tight, cuts, type, true, 4, box);
            float worst = 0;
            for (int y = box.y0; y < box.y1; ++y) {
                EXPECT_TRUE(sameRow(boxed.panorama(), full.panorama(), y)) << int(type) << linked;
                for (int x = box.x0; x < box.x1; ++x)
                    for (int c = 0; c < 4; ++c)
                        worst = std::max(
                            worst,
                            std::abs(px(tight.panorama(), x, y)[c] - px(full.panorama(), x, y)[c]));
            }
            EXPECT_LT(worst, 1e-5f) << int(type) << linked;
            EXPECT_EQ(full.vectorFieldStats().largestShift > 0.5f, linked);
        }
}

namespace {

/// `image`, over the whole panorama, turned by `shift` columns about the vertical axis.
Image turned(const Image& image, int shift) {
    Image out = copyOf(image);
    const Box& b = image.box();
    for (int y = b.y0; y < b.y1; ++y)
        for (int x = b.x0; x < b.x1; ++x)
            std::memcpy(px(out, b.x0 + (x - b.x0 + shift) % b.width(), y), px(image, x, y), 16);
    return out;
}

}  // namespace

TEST(Stitcher, ACameraAcrossTheLongitudeSeamCountsOnceOnEitherSide) {
    // Camera 0 sees across the longitude seam and overlaps camera 1 on one side of it and
    // camera 2 on the other; the scene shows shifted in those two, so the vector field moves
    // all three. Turned by half the panorama, the seam falls in the gap between cameras 1 and
    // 2 and no camera crosses it. Alpha must give the same panorama turned: a side of camera 0
    // lost leaves a hole, counted twice it weighs double in that side's overlap. Multi-Band
    // (whose planar filters cut the panorama at the seam) must draw the same seam labels and
    // coverage turned.
    const Box box{0, 0, 512, 256};
    const Texture t(5);
    const auto scene = [&](float dx, float dy) {
        return grey([&t, dx, dy](float x, float y) { return t(x - dx, y - dy); });
    };
    const auto rows = [](const std::function<bool(int, int)>& columns) {
        return [columns](int x, int y) { return y >= 40 && y < 216 && columns(x, y); };
    };
    const std::vector<Image> cams = {camera(box, rows(band(400, 120, 512)), scene(0, 0)),
                                     camera(box, rows(band(60, 240, 512)), scene(1.5f, 0.5f)),
                                     camera(box, rows(band(260, 420, 512)), scene(-1.0f, 0))};
    std::vector<Image> turnedCams;
    for (const Image& c : cams) turnedCams.push_back(turned(c, 256));
    for (const BlendType type : {BlendType::Alpha, BlendType::MultiBand}) {
        Stitcher across, inside;
        for (Stitcher* s : {&across, &inside}) {
            s->setVectorDetail(0.25f);  // one cell a pixel
            s->setLinks({{0, 1}, {0, 2}});
            s->setExposureCompensation(false);
        }
        run(across, cams, type, false, 32);  // planar Multi-Band: its boxes miss the poles
        run(inside, turnedCams, type, false, 32);
        ASSERT_GT(across.vectorFieldStats().largestShift, 0.5f) << int(type);
        const Image back = turned(inside.panorama(), 256);
        const Image labels = turned(inside.seamLabels(), 256);
        float worst = 0;
        int relabelled = 0;
        for (int y = box.y0; y < box.y1; ++y)
            for (int x = box.x0; x < box.x1; ++x) {
                relabelled += px(across.seamLabels(), x, y)[1] != px(labels, x, y)[1];
                worst = std::max(worst,
                                 std::abs(px(across.seamLabels(), x, y)[2] - px(labels, x, y)[2]));
                for (int c = type == BlendType::Alpha ? 0 : 3; c < 4; ++c)
                    worst = std::max(worst,
                                     std::abs(px(across.panorama(), x, y)[c] - px(back, x, y)[c]));
            }
        EXPECT_LT(worst, 1e-5f) << int(type);
        EXPECT_EQ(relabelled, 0) << int(type);
    }
}

TEST(Stitcher, AlignedCamerasBlendAsTheCamerasWhereTheFieldIsZero) {
    // Three cameras side by side around the sphere, one across the longitude seam, none
    // overlapping: linked, their field is zero and each aligned camera is the camera over its
    // footprint and the field's reach. Multi-Band reduces level 1 of an aligned camera from it
    // in place (in two parts across the seam), the unlinked build from the whole camera: the
    // same panorama, with and without expand.
    const Box box{0, 0, 512, 256};
    const Texture t(8);
    const auto rows = [](const std::function<bool(int, int)>& columns) {
        return [columns](int x, int y) { return y >= 40 && y < 216 && columns(x, y); };
    };
    const std::vector<Image> cams = {camera(box,
                                            rows(band(400, 120, 512)),
                                            [&](float x, float y) {
                                                return std::array<float, 3>{t(x, y), 0.3f, t(y, x)};
                                            }),
                                     camera(box, rows(band(120, 262, 512)), grey(t)),
                                     camera(box, rows(band(262, 400, 512)), [&](float x, float y) {
                                         return std::array<float, 3>{0.6f, t(y, x), t(x, y)};
                                     })};
    for (const bool expand : {false, true}) {
        Stitcher linked, plain;
        linked.setLinks({{0, 1}, {0, 2}, {1, 2}});
        for (Stitcher* s : {&linked, &plain}) {
            s->setVectorDetail(0.25f);
            s->setExposureCompensation(false);
            run(*s, cams, BlendType::MultiBand, expand, 32);  // planar: 4 levels, 32 reach
        }
        ASSERT_FALSE(linked.vectorField(0).empty());
        EXPECT_EQ(linked.vectorFieldStats().largestShift, 0.0f);
        float worst = 0;
        for (int y = box.y0; y < box.y1; ++y)
            for (int x = box.x0; x < box.x1; ++x)
                for (int c = 0; c < 4; ++c)
                    worst = std::max(
                        worst,
                        std::abs(px(linked.panorama(), x, y)[c] - px(plain.panorama(), x, y)[c]));
        EXPECT_LT(worst, 1e-6f) << "expand " << expand;
    }
}
