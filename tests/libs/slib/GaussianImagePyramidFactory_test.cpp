// SPDX-License-Identifier: Apache-2.0
#include "slib/ImagePyramids/GaussianImagePyramidFactory.h"
#include "slib/ImagePyramids/PyramidFilters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using Korvane::SLIB::ImagePyramids::GaussianImagePyramidFactory;
using Korvane::SLIB::ImagePyramids::ImagePyramid;

namespace {

Kiln::Image floatImage(int w, int h, int channels) {
    Kiln::Info info;
    info.box = {0, 0, w, h};
    info.channels = channels;
    return Kiln::Image(info, nullptr);
}

float& at(const Kiln::Image& image, int x, int y, int c = 0) {
    return reinterpret_cast<float*>(image.row(y))[(x - image.box().x0) * image.channels() + c];
}

/// Uniform noise in [0, 1) on every component.
Kiln::Image noiseImage(int w, int h, int channels, unsigned seed) {
    Kiln::Image image = floatImage(w, h, channels);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) at(image, x, y, c) = value(rng);
    return image;
}

}  // namespace

TEST(ImagePyramids, LevelsStopAtTheSmallestLevelSize) {
    GaussianImagePyramidFactory factory;
    factory.setSmallestLevelSize(16);
    const auto boxes = factory.levelBoxes({0, 0, 2048, 1024});
    ASSERT_EQ(boxes.size(), 7u);
    EXPECT_EQ(boxes.back(), (Kiln::Box{0, 0, 32, 16}));
    factory.setSmallestLevelSize(0);  // stored as 1: the deepest pyramid
    EXPECT_EQ(factory.smallestLevelSize(), 1);
    EXPECT_EQ(factory.levelBoxes({0, 0, 2048, 1024}).back(), (Kiln::Box{0, 0, 1, 1}));
    factory.setLevelScale(2.0f);  // taken as its reciprocal
    EXPECT_FLOAT_EQ(factory.levelScale(), 0.5f);
    EXPECT_THROW(factory.setLevelScale(0.7f), std::invalid_argument);
    // Parts of an image line up with the whole's levels.
    EXPECT_EQ(factory.levelBoxes({64, 32, 192, 96}, 3)[2], (Kiln::Box{16, 8, 48, 24}));
}

class PyramidRoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(PyramidRoundTrip, CollapsingTheLaplacianGivesTheImageBack) {
    GaussianImagePyramidFactory factory;
    factory.setSmallestLevelSize(3);
    factory.setSpherical(GetParam());
    // An odd size exercises the border rules of every level.
    const Kiln::Image image = noiseImage(100, 51, 3, 3);
    ImagePyramid laplacian = factory.buildLaplacian(image);
    ASSERT_GE(laplacian.size(), 4u);
    Kiln::Image back = floatImage(100, 51, 3);
    factory.collapse(laplacian, back);
    float worst = 0;
    for (int y = 0; y < 51; ++y)
        for (int x = 0; x < 100; ++x)
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(at(back, x, y, c) - at(image, x, y, c)));
    EXPECT_LT(worst, 1e-5f);
}

INSTANTIATE_TEST_SUITE_P(PlainAndSpherical, PyramidRoundTrip, ::testing::Bool());

TEST(ImagePyramids, SphericalLevelsAreContinuousAcrossTheSeam) {
    // A smooth function of the direction on the sphere, sampled on an equirectangular grid: its
    // blurred levels must stay smooth where longitude wraps and near the poles. A plain
    // pyramid breaks at the seam because it repeats each edge instead.
    const int w = 128, h = 64;
    Kiln::Image image = floatImage(w, h, 1);
    const double pi = std::acos(-1.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double lon = (x + 0.5) / w * 2 * pi - pi;
            const double lat = (y + 0.5) / h * pi - pi / 2;
            // Bright toward +x on the sphere: cos(lat) sin(lon) wraps and is smooth at poles.
            at(image, x, y) = float(0.5 + 0.5 * std::cos(lat) * std::sin(lon + 0.3));
        }
    for (const bool spherical : {true, false}) {
        GaussianImagePyramidFactory factory;
        factory.setSmallestLevelSize(4);
        factory.setSpherical(spherical);
        ImagePyramid levels = factory.buildGaussian(image);
        const Kiln::Image& level = levels[3];  // 16 x 8
        const int lw = level.box().width(), lh = level.box().height();
        float seamJump = 0, innerJump = 0;
        for (int y = 0; y < lh; ++y) {
            seamJump = std::max(seamJump, std::abs(at(level, 0, y) - at(level, lw - 1, y)));
            for (int x = 1; x < lw; ++x)
                innerJump = std::max(innerJump, std::abs(at(level, x, y) - at(level, x - 1, y)));
        }
        if (spherical)
            EXPECT_LE(seamJump, innerJump * 1.05f) << "the seam is no steeper than elsewhere";
        else
            EXPECT_GT(seamJump, innerJump * 1.05f) << "a plain pyramid does not wrap";
    }
}

TEST(ImagePyramids, AWindowReducesToTheWholeImagesLevelInsideIt) {
    // Reducing straight from the whole image into a coarse box over a window gives the whole
    // pyramid's pixels there, rows and columns of the window's edges included (they read the
    // image beyond the window). The next level down, reduced from that window level, lines up
    // away from its edges, where its filter reaches past the window (2 pixels).
    GaussianImagePyramidFactory factory;
    const Kiln::Image image = noiseImage(96, 64, 4, 5);
    const ImagePyramid whole = factory.buildGaussian(image, 3);
    const std::vector<Kiln::Box> boxes = factory.levelBoxes({20, 12, 68, 44}, 3);
    ImagePyramid window{image};
    for (int k = 1; k < 3; ++k) {
        Kiln::Info info = image.info();
        info.box = boxes[k];
        window.push_back(Kiln::Image(info, nullptr));
        factory.reduce(window[k - 1], window[k]);
    }
    for (int k = 1; k < 3; ++k) {
        // Coarse pixel i reads fine 2i - 3 .. 2i + 4: 2 pixels in from the low edge, 3 from the
        // high one.
        const int low = k == 1 ? 0 : 2, high = k == 1 ? 0 : 3;
        for (int y = boxes[k].y0 + low; y < boxes[k].y1 - high; ++y)
            for (int x = boxes[k].x0 + low; x < boxes[k].x1 - high; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_FLOAT_EQ(at(window[k], x, y, c), at(whole[k], x, y, c))
                        << "level " << k << " at " << x << "," << y;
    }
}

TEST(ImagePyramids, ReduceAndExpandAreTheSeparableFiltersWithTheBorderRule) {
    // Every pixel, edges and rows beyond the poles included, against the filters written out
    // in double precision: odd sizes, one and four channels, plain and spherical.
    using namespace Korvane::SLIB::ImagePyramids;
    for (const bool spherical : {false, true})
        for (const int channels : {1, 4}) {
            GaussianImagePyramidFactory factory;
            factory.setSpherical(spherical);
            const int w = 38, h = 21;
            const Kiln::Image fine = noiseImage(w, h, channels, 11);
            auto read = [&](const Kiln::Image& image, int x, int y, int c) {
                const int iw = image.box().width();
                const BorderRow r = ResolveRow(y, image.box().height(), spherical);
                return double(at(image,
                                 ResolveColumn(x + (r.acrossPole ? iw / 2 : 0), iw, spherical),
                                 r.row,
                                 c));
            };
            const int cw = (w + 1) / 2, ch = (h + 1) / 2;
            Kiln::Image coarse = floatImage(cw, ch, channels);
            factory.reduce(fine, coarse);
            const auto reduceTaps = ReduceTaps(factory.gaussian());
            float worst = 0;
            for (int j = 0; j < ch; ++j)
                for (int i = 0; i < cw; ++i)
                    for (int c = 0; c < channels; ++c) {
                        double v = 0;
                        for (int t = 0; t < 8; ++t)
                            for (int s = 0; s < 8; ++s)
                                v += double(reduceTaps[t]) * reduceTaps[s] *
                                     read(fine, 2 * i - 3 + s, 2 * j - 3 + t, c);
                        worst = std::max(worst, float(std::abs(v - at(coarse, i, j, c))));
                    }
            EXPECT_LT(worst, 1e-5f) << "reduce, spherical " << spherical << ", " << channels;

            Kiln::Image expanded = floatImage(w, h, channels);
            factory.expand(coarse, expanded, expanded, 0.0f, 1.0f);
            const auto expandTaps = ExpandTaps(factory.gaussian());
            worst = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int c = 0; c < channels; ++c) {
                        const int qx = x & 1, qy = y & 1;
                        double v = 0;
                        for (int t = 0; t < 4; ++t)
                            for (int s = 0; s < 4; ++s)
                                v += double(expandTaps[qy][t]) * expandTaps[qx][s] *
                                     read(coarse, (x >> 1) - 2 + qx + s, (y >> 1) - 2 + qy + t, c);
                        worst = std::max(worst, float(std::abs(v - at(expanded, x, y, c))));
                    }
            EXPECT_LT(worst, 1e-5f) << "expand, spherical " << spherical << ", " << channels;
        }
}
