// SPDX-License-Identifier: Apache-2.0
// Resampling, vector operations and grid densifying through their launch wrappers.
#include "render/kernels/RenderKernels.h"

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RenderTestImages.h"
#include "analysis/WarpInverse.h"
#include "kiln/Exception.h"
#include "render/kernels/DensifyGrid.h"
#include "render/kernels/Resample.h"
#include "render/kernels/VectorOperations.h"
#include "render/projection/ProjectionRecords.h"
#include "render/projection/VectorRotate.h"

using namespace Korvane::Research;
using Kernels::Filter;

namespace {

const Filter kFilters[] = {Filter::Bilinear, Filter::Cubic, Filter::Lanczos, Filter::Nearest};

// Positions spread over a w x h frame, edges included, with some outside it and some kNoSample.
Kiln::Image scatteredPositions(int n, float w, float h, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> x(-0.2f * w, 1.2f * w), y(-0.2f * h, 1.2f * h);
    return test::makeImage(n, n, 2, [&](int i, int j, int c) {
        if ((i + j) % 11 == 0) return Kernels::kNoSample;
        if ((i * 7 + j) % 13 == 0) return c == 0 ? (i % 2 ? 0.0f : w) : (j % 2 ? 0.0f : h);
        return c == 0 ? x(rng) : y(rng);
    });
}

// A 5 x 4 grid of displacements within 6 px, and its vertex image (DensifyGrid.h).
Grid2D randomGrid(unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-6, 6);
    Grid2D grid(5, 4);
    for (auto& p : grid.points) p = {d(rng), d(rng)};
    return grid;
}
Kiln::Image vertexImage(const Grid2D& grid) {
    return test::makeImage(
        grid.width, grid.height, 2, [&](int i, int j, int c) { return float(grid.at(i, j)[c]); });
}

TEST(Resample, ChannelsMatchAloneAndConstantsStayInsideTheFrameAndZeroOutside) {
    // Four-channel images take their own path (taps read in pairs inside the image); each of
    // their channels must be what the one-channel path makes of it, at the edges too. The
    // source holds a part of a larger frame: taps beyond it read its edge, so the constant
    // alpha stays 1 wherever the position lies in the frame, however wide the filter.
    const auto value = [](int x, int y, int c) {
        return c == 3 ? 1.0f
                      : float(std::sin(0.37 * x + c) * std::cos(0.23 * y - c) +
                              0.1 * ((x + 2 * y) % 3));
    };
    const Kiln::Image source = test::makeImage(37, 23, 4, value, 3, 2);
    const float w = 42, h = 30;
    const Kiln::Image positions = scatteredPositions(64, w, h, 9);
    for (bool wrap : {false, true})
        for (Filter f : kFilters) {
            Kiln::Image out = test::constantImage(64, 64, 4, -7.0f);
            Kernels::resample(f, source, positions, out, int(w), int(h), wrap);
            int inside = 0;
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    const float* p = test::pixel(positions, x, y);
                    const bool shows = Kernels::isSample(p[0]) && p[1] >= 0 && p[1] <= h &&
                                       (wrap || (p[0] >= 0 && p[0] <= w));
                    inside += shows;
                    ASSERT_NEAR(test::pixel(out, x, y)[3], shows ? 1.0f : 0.0f, 1e-5f)
                        << "filter " << int(f) << " wrap " << wrap << " at " << x << ", " << y;
                }
            EXPECT_GT(inside, 64 * 64 / 3);
            for (int c = 0; c < 3; ++c) {
                const Kiln::Image channel = test::makeImage(
                    37, 23, 1, [&](int x, int y, int) { return value(x, y, c); }, 3, 2);
                Kiln::Image alone = test::constantImage(64, 64, 1, -7.0f);
                Kernels::resample(f, channel, positions, alone, int(w), int(h), wrap);
                for (int y = 0; y < 64; ++y)
                    for (int x = 0; x < 64; ++x)
                        ASSERT_NEAR(test::pixel(out, x, y)[c], test::pixel(alone, x, y)[0], 1e-5f)
                            << "filter " << int(f) << " wrap " << wrap << " channel " << c << " at "
                            << x << ", " << y;
            }
        }
}

TEST(Resample, HardEdgesRingNoMoreThanTheFiltersOwnOvershoot) {
    // A vertical and a horizontal step, sampled at sub-pixel offsets all over the edge: each
    // axis sees the filter's one-dimensional step response.
    const Kiln::Image step =
        test::makeImage(40, 40, 1, [](int x, int, int) { return x < 20 ? 0.0f : 1.0f; });
    const Kiln::Image across =
        test::makeImage(40, 40, 1, [](int, int y, int) { return y < 20 ? 0.0f : 1.0f; });
    const Kiln::Image positions = test::makeImage(200, 200, 2, [](int i, int j, int c) {
        return c == 0 ? 10.0f + 0.1f * float(i) + 0.013f : 10.0f + 0.1f * float(j) + 0.007f;
    });
    // Keys' cubic with a = -0.5 undershoots a step by 2/27; Lanczos-3 (normalised) by 0.118.
    const std::pair<Filter, float> bounds[] = {{Filter::Bilinear, 0.0f},
                                               {Filter::Nearest, 0.0f},
                                               {Filter::Cubic, 2.0f / 27.0f},
                                               {Filter::Lanczos, 0.118f}};
    for (const Kiln::Image* source : {&step, &across})
        for (const auto& [f, bound] : bounds) {
            Kiln::Image out = test::constantImage(200, 200, 1, 0.0f);
            Kernels::resample(f, *source, positions, out, 40, 40, false);
            float lo = 0, hi = 1;
            for (int y = 0; y < 200; ++y)
                for (int x = 0; x < 200; ++x) {
                    lo = std::min(lo, *test::pixel(out, x, y));
                    hi = std::max(hi, *test::pixel(out, x, y));
                }
            EXPECT_GE(lo, -bound - 1e-4f) << "filter " << int(f);
            EXPECT_LE(hi, 1.0f + bound + 1e-4f) << "filter " << int(f);
            if (f == Filter::Cubic) {
                EXPECT_LT(lo, -0.03f) << "the cubic should sharpen";
            }
        }
}

TEST(Resample, StretchedLanczosKernelIsSincTimesSinc) {
    // The widened Lanczos filter computes its kernel from two polynomial sines.
    constexpr double kPi = 3.14159265358979323846;
    for (int i = -4000; i <= 4000; ++i) {
        const double x = i / 1000.0 + 1e-4;
        const double exact = std::abs(x) >= 3.0 ? 0.0
                                                : 3.0 * std::sin(kPi * x) *
                                                      std::sin(kPi * x / 3.0) / (kPi * kPi * x * x);
        ASSERT_NEAR(Kernels::LanczosFilter::kernel(float(x)), exact, 1e-6) << x;
    }
    EXPECT_EQ(Kernels::LanczosFilter::kernel(0.0f), 1.0f);
}

// Destination pixel (i, j) of an n x n image shows the source at o + (i + 0.5) a + (j + 0.5) b,
// m = {o, a, b}.
Kiln::Image affinePositions(int n, const std::array<float, 6>& m) {
    return test::makeImage(n, n, 2, [=](int i, int j, int c) {
        return m[c] + (float(i) + 0.5f) * m[2 + c] + (float(j) + 0.5f) * m[4 + c];
    });
}

TEST(Resample, ShrinkingWidensTheFilterAndNothingElseDoes) {
    // Fine ripples (2.3 px a period) over a coarse wave (60 px).
    constexpr int kW = 300, kH = 260, kN = 48;
    const auto coarse = [](float x, float y) {
        return 0.5f * std::sin(0.105f * x + 0.3f) * std::cos(0.105f * y);
    };
    const Kiln::Image source = test::makeImage(kW, kH, 1, [&](int x, int y, int) {
        const float fine = float(std::sin(2.73 * x) * std::sin(2.73 * y + 1.0));
        return coarse(float(x) + 0.5f, float(y) + 0.5f) + fine;
    });
    // Enlarged 1.5 times and turned, shrunk by 5 % (rows upside down): every tap as it was.
    // Shrunk 2 to 4 times and turned a little: point-sampled, the ripples alias into a beat as
    // strong as themselves; widened, the coarse wave is left. Nearest never widens.
    std::vector<std::array<float, 6>> maps = {{60.3f, 41.2f, 0.577f, -0.333f, 0.333f, 0.577f},
                                              {60.3f, 241.2f, 1.05f, 0.0f, 0.0f, -0.8f}};
    for (float k : {2.0f, 3.0f, 4.0f})
        maps.push_back({60.2f, 20.7f, 0.98f * k, 0.2f * k, -0.2f * k, 0.98f * k});
    for (Filter f : kFilters)
        for (std::size_t m = 0; m < maps.size(); ++m)
            for (bool wrap : {false, true}) {
                const Kiln::Image positions = affinePositions(kN, maps[m]);
                Kiln::Image out = test::constantImage(kN, kN, 1, -7.0f);
                Kernels::resample(f, source, positions, out, kW, kH, wrap);
                const Kiln::Image point = test::pointSampled(f, source, positions, kW, kH, wrap);
                float worst = 0, aliased = 0, changed = 0;
                for (int y = 0; y < kN; ++y)
                    for (int x = 0; x < kN; ++x) {
                        const float* p = test::pixel(positions, x, y);
                        const float want = coarse(p[0], p[1]), got = *test::pixel(out, x, y);
                        worst = std::max(worst, std::abs(got - want));
                        aliased = std::max(aliased, std::abs(*test::pixel(point, x, y) - want));
                        changed = std::max(changed, std::abs(got - *test::pixel(point, x, y)));
                    }
                const std::string what = "filter " + std::to_string(int(f)) + " map " +
                                         std::to_string(m) + " wrap " + std::to_string(wrap);
                if (m < 2 || f == Filter::Nearest) {
                    EXPECT_EQ(changed, 0.0f) << what;
                } else {
                    EXPECT_GT(aliased, 0.6f) << what;
                    EXPECT_LT(worst, 0.1f) << what;
                }
            }
}

TEST(Resample, FootprintsCrossTheSeamAndSkipHolesAndTheEdgeOfThePositions) {
    // One shrinking map twice: whole, and cut to a smaller box with holes, its x given on both
    // sides of a wrapping source's seam. The footprint is the same everywhere, so every pixel
    // that shows something must come out alike.
    constexpr int kW = 120, kH = 50, kN = 40;
    const Kiln::Image source = test::makeImage(kW, kH, 4, [](int x, int y, int c) {
        return float(std::sin(2.1 * x + c) * std::cos(1.7 * y) + 0.01 * x);
    });
    const Kiln::Image straight = affinePositions(kN, {-20.0f, 2.0f, 2.5f, 0.3f, 0.2f, 1.0f});
    const auto cut = [&](int x, int y, int c) {
        const float v = test::pixel(straight, x, y)[c];
        if ((x * 5 + y * 3) % 7 == 0 && x > 4 && x < kN - 6 && y > 6 && y < kN - 4)
            return Kernels::kNoSample;  // never two side by side, nor beside the box's edge
        return c == 0 && (x + y) % 3 ? std::fmod(v + float(kW), float(kW)) : v;
    };
    const Kiln::Image holes = test::makeImage(kN - 7, kN - 7, 2, cut, 3, 5);
    for (Filter f : {Filter::Bilinear, Filter::Cubic, Filter::Lanczos}) {
        Kiln::Image expected = test::constantImage(kN, kN, 4, -7.0f);
        Kiln::Image out = test::constantImage(kN, kN, 4, -7.0f);
        Kernels::resample(f, source, straight, expected, kW, kH, true);
        Kernels::resample(f, source, holes, out, kW, kH, true);
        for (int y = 0; y < kN; ++y)
            for (int x = 0; x < kN; ++x) {
                const bool shows =
                    holes.box().contains(x, y) && Kernels::isSample(test::pixel(holes, x, y)[0]);
                for (int c = 0; c < 4; ++c)
                    ASSERT_NEAR(test::pixel(out, x, y)[c],
                                shows ? test::pixel(expected, x, y)[c] : 0.0f,
                                2e-5f)
                        << "filter " << int(f) << " at " << x << ", " << y;
            }
    }
}

TEST(Resample, BadLaunchesThrowBeforeWritingAndUnknownFiltersDoNothing) {
    const Kiln::Image source = test::constantImage(8, 8, 3, 1.0f);
    const Kiln::Image positions = test::constantImage(8, 8, 2, 4.0f);
    Kiln::Image out = test::constantImage(8, 8, 4, 5.0f);  // 3 channels in, 4 out: no variant
    EXPECT_THROW(Kernels::resample(Filter::Bilinear, source, positions, out, 8, 8, false),
                 Kiln::KernelError);
    Kiln::Image out3 = test::constantImage(8, 8, 3, 5.0f);
    EXPECT_THROW(Kernels::resample(Filter::Cubic, source, positions, out3, 0, 8, false),
                 Kiln::KernelError);
    Kernels::resample(Filter(7), source, positions, out3, 8, 8, false);
    for (const Kiln::Image* image : {&out, &out3})
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) EXPECT_EQ(test::pixel(*image, x, y)[0], 5.0f);
    // A 1 x 1 source is a constant: every filter reads its one pixel.
    const Kiln::Image dot = test::constantImage(1, 1, 3, 0.5f);
    for (Filter f : kFilters) {
        Kernels::resample(f, dot, positions, out3, 1, 1, false);
        EXPECT_EQ(test::pixel(out3, 3, 3)[0], 0.0f) << "position 4, 4 lies outside a 1 x 1 frame";
        Kernels::resample(f, dot, positions, out3, 8, 8, false);
        EXPECT_NEAR(test::pixel(out3, 3, 3)[0], 0.5f, 1e-6f);
    }
}

TEST(VectorOperations, ConversionAndCompositionCarryNoSampleThrough) {
    // Displacements (2, -1) with a hole; to positions and back, in place.
    Kiln::Image v = test::makeImage(6, 5, 2, [](int x, int y, int c) {
        return x == 4 && y == 1 ? Kernels::kNoSample : (c == 0 ? 2.0f : -1.0f);
    });
    Kernels::convertVectors(v, v, Kernels::VectorMode::ToPositions);
    EXPECT_FLOAT_EQ(test::pixel(v, 3, 2)[0], 5.5f);
    EXPECT_FLOAT_EQ(test::pixel(v, 3, 2)[1], 1.5f);
    EXPECT_FALSE(Kernels::isSample(test::pixel(v, 4, 1)[0]));
    Kiln::Image back = test::constantImage(6, 5, 2, 0.0f);
    Kernels::convertVectors(v, back, Kernels::VectorMode::ToDisplacements);
    EXPECT_FLOAT_EQ(test::pixel(back, 0, 0)[0], 2.0f);
    EXPECT_FLOAT_EQ(test::pixel(back, 5, 4)[1], -1.0f);

    // inner: a 10 x 10 translation by (+3, +1); composing positions reads it bilinearly.
    const Kiln::Image inner = test::makeImage(10, 10, 2, [](int x, int y, int c) {
        return x == 9 && y == 9 ? Kernels::kNoSample : (c == 0 ? x + 3.5f : y + 1.5f);
    });
    Kiln::Image positions = test::makeImage(4, 1, 2, [](int x, int, int c) {
        const float points[4][2] = {{2.25f, 4.75f}, {9.7f, 9.7f}, {11.0f, 3.0f}, {-1.0f, 2.0f}};
        return points[x][c];
    });
    Kernels::composeVectors(inner, positions, false);
    EXPECT_FLOAT_EQ(test::pixel(positions, 0, 0)[0], 5.25f);
    EXPECT_FLOAT_EQ(test::pixel(positions, 0, 0)[1], 5.75f);
    for (int x = 1; x < 4; ++x)  // a hole under the taps, outside to the right, to the left
        EXPECT_FALSE(Kernels::isSample(test::pixel(positions, x, 0)[0])) << x;
    // Wrapping: x = 11 is x = 1 of a 10-wide panorama.
    Kiln::Image wrapped =
        test::makeImage(1, 1, 2, [](int, int, int c) { return c ? 3.0f : 11.0f; });
    Kernels::composeVectors(inner, wrapped, true);
    EXPECT_FLOAT_EQ(test::pixel(wrapped, 0, 0)[0], 4.0f);
}

TEST(DensifyGrid, MatchesTheWarpSolversInterpolationAndScalesForProxies) {
    constexpr int kW = 90, kH = 70;
    const Grid2D grid = randomGrid(11);
    const Kiln::Image vertices = vertexImage(grid);
    // The dense image covers more than the frame: outside it the edge value holds.
    Kiln::Image dense = test::makeImage(
        kW + 4, kH + 2, 2, [](int, int, int) { return 0.0f; }, -2, -1);
    Kernels::densifyGrid(vertices, dense, kW, kH, 1.0f, 1.0f);
    const WarpInverse reference(grid, kW, kH);
    double worst = 0;
    for (int y = -1; y < kH + 1; ++y)
        for (int x = -2; x < kW + 2; ++x) {
            const Eigen::Vector2d expected = reference.displacement({x + 0.5, y + 0.5});
            const float* p = test::pixel(dense, x, y);
            worst = std::max(worst, (Eigen::Vector2d(p[0], p[1]) - expected).norm());
        }
    EXPECT_LT(worst, 1e-4);
    // Half-size proxy: half the frame, half the displacement.
    Kiln::Image half = test::constantImage(kW / 2, kH / 2, 2, 0.0f);
    Kernels::densifyGrid(vertices, half, kW / 2.0f, kH / 2.0f, 0.5f, 0.5f);
    const Eigen::Vector2d expected = 0.5 * reference.displacement({2 * 10.5, 2 * 20.5});
    EXPECT_NEAR(test::pixel(half, 10, 20)[0], expected.x(), 1e-4);
    EXPECT_NEAR(test::pixel(half, 10, 20)[1], expected.y(), 1e-4);
    // A grid without cells is no warp, densified or moving positions.
    const Kiln::Image line = test::constantImage(1, 4, 2, 9.0f);
    Kernels::densifyGrid(line, half, kW / 2.0f, kH / 2.0f, 1.0f, 1.0f);
    EXPECT_EQ(test::pixel(half, 3, 3)[0], 0.0f);
    Kiln::Image moved = test::constantImage(2, 2, 2, 5.0f);
    Kernels::warpPositionsByGrid(line, moved, kW, kH, 1.0f, 1.0f);
    EXPECT_EQ(test::pixel(moved, 1, 1)[0], 5.0f);
}

}  // namespace

namespace {

// Four-channel turns and resampling take their own paths (a run's weights computed together,
// taps read in pairs, edge pixels one at a time); each channel must be what the one-channel
// path makes of it. A random panorama whose rows are not a multiple of the runs, turned
// sideways (the row-shift path), tilted, with a pole brought to the centre of the view and
// upside down, so that positions cross the seam and both poles.
TEST(RotateLatlong, FourChannelTurnsAndResamplingMatchEachChannelAlone) {
    constexpr int kW = 150, kH = 75;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(-1.0f, 2.0f);
    std::vector<float> values(std::size_t(kW) * kH * 4);
    for (float& v : values) v = value(rng);
    const auto at = [&](int x, int y, int c) { return values[std::size_t((y * kW + x) * 4 + c)]; };
    // The four-channel turn's positions may round differently (its row loops are built for two
    // CPU generations, one with fused multiply-adds): 2e-5 px at a slope of up to 3 a pixel,
    // and for Lanczos a neighbouring phase of its weight table (2e-3 here). A wrong tap or
    // weight is off by tenths.
    constexpr float kTurnTolerance = 4e-3f;
    const Kiln::Image pano = test::makeImage(kW, kH, 4, at);
    const double r = std::sqrt(0.5);
    const Kernels::Quaternion turns[] = {{0.96f, 0.0f, 0.28f, 0.0f},
                                         {0.9f, 0.2f, -0.3f, 0.25f},
                                         {float(r), float(r), 0.0f, 0.0f},
                                         {0.0f, 0.0f, 0.0f, 1.0f}};
    for (const Kernels::Quaternion& q : turns) {
        Kiln::ImageProjection::VectorRotate vectors({q.w, q.x, q.y, q.z});
        vectors.setSourceSize({kW, kH});
        Kiln::Image positions = test::constantImage(kW, kH, 2, 0.0f);
        ASSERT_TRUE(vectors.run(positions, {kW, kH}));
        for (Filter f : kFilters) {
            Kiln::Image turned = test::constantImage(kW, kH, 4, -7.0f);
            Kiln::Image resampled = test::constantImage(kW, kH, 4, -7.0f);
            Kernels::rotateLatlong(pano, turned, q, f);
            Kernels::resample(f, pano, positions, resampled, kW, kH, true);
            for (int c = 0; c < 4; ++c) {
                const Kiln::Image channel =
                    test::makeImage(kW, kH, 1, [&](int x, int y, int) { return at(x, y, c); });
                Kiln::Image turnedAlone = test::constantImage(kW, kH, 1, -7.0f);
                Kiln::Image resampledAlone = test::constantImage(kW, kH, 1, -7.0f);
                Kernels::rotateLatlong(channel, turnedAlone, q, f);
                Kernels::resample(f, channel, positions, resampledAlone, kW, kH, true);
                for (int y = 0; y < kH; ++y)
                    for (int x = 0; x < kW; ++x) {
                        ASSERT_NEAR(test::pixel(turned, x, y)[c],
                                    test::pixel(turnedAlone, x, y)[0],
                                    kTurnTolerance)
                            << "turn " << &q - turns << " filter " << int(f) << " channel " << c
                            << " at " << x << ", " << y;
                        ASSERT_NEAR(test::pixel(resampled, x, y)[c],
                                    test::pixel(resampledAlone, x, y)[0],
                                    1e-5f)
                            << "resampled, turn " << &q - turns << " filter " << int(f)
                            << " channel " << c << " at " << x << ", " << y;
                    }
            }
        }
    }
}

// Fine ripples (2.3 px a period) turned, tilted, into a panorama a quarter the size: point-
// sampled they alias into blotches; with the filter widened the view is near the source
// averaged over each view pixel (the same turn 4 x 4 times larger, averaged over blocks).
// Turned into one twice the size, where the source's latitude stays within 60 degrees (no
// pixel shrinks it there), every pixel is the point-sampled one.
TEST(RotateLatlong, ShrinkingTurnsAverageWhatAPixelCoversAndOthersPointSample) {
    constexpr int kW = 384, kH = 192;
    const Kiln::Image pano = test::makeImage(kW, kH, 1, [](int x, int y, int) {
        return float(std::sin(2.73 * x) * std::sin(2.73 * y + 1.0) + 0.002 * x);
    });
    const Kernels::Quaternion q{0.97f, 0.2f, 0.1f, 0.05f};
    Kiln::ImageProjection::VectorRotate vectors({q.w, q.x, q.y, q.z});
    vectors.setSourceSize({kW, kH});
    struct Turned {
        Kiln::Image view, positions, point;
    };
    const auto turned = [&](Filter f, int w, int h) {
        Turned t{test::constantImage(w, h, 1, -7.0f), test::constantImage(w, h, 2, 0.0f), {}};
        Kernels::rotateLatlong(pano, t.view, q, f);
        EXPECT_TRUE(vectors.run(t.positions, {w, h}));
        t.point = test::pointSampled(f, pano, t.positions, kW, kH, true);
        return t;
    };
    for (Filter f : {Filter::Bilinear, Filter::Cubic, Filter::Lanczos}) {
        const Turned small = turned(f, kW / 4, kH / 4), large = turned(f, kW, kH);
        double widened = 0, sampled = 0;
        for (int y = 0; y < kH / 4; ++y)
            for (int x = 0; x < kW / 4; ++x) {
                double mean = 0;
                for (int j = 0; j < 4; ++j)
                    for (int i = 0; i < 4; ++i)
                        mean += *test::pixel(large.view, 4 * x + i, 4 * y + j) / 16.0;
                widened += std::pow(*test::pixel(small.view, x, y) - mean, 2);
                sampled += std::pow(*test::pixel(small.point, x, y) - mean, 2);
            }
        EXPECT_LT(widened, 0.05 * sampled) << "filter " << int(f);
        const Turned enlarged = turned(f, 2 * kW, 2 * kH);
        for (int y = 0; y < 2 * kH; ++y)
            for (int x = 0; x < 2 * kW; ++x)
                if (std::abs(test::pixel(enlarged.positions, x, y)[1] - 0.5f * kH) < kH / 3.0f) {
                    ASSERT_NEAR(*test::pixel(enlarged.view, x, y),
                                *test::pixel(enlarged.point, x, y),
                                4e-3f)
                        << "filter " << int(f) << " at " << x << ", " << y;
                }
    }
}

// A look through a rectilinear camera straight from the panorama is the projection kernel's
// positions of that camera (its rotation as ZXY angles) resampled: views across the seam and
// past both poles, a shifted centre and non-square pixels, every filter.
TEST(RotateLatlong, LookingThroughACameraMatchesItsPositionImageResampled) {
    constexpr int kW = 150, kH = 75, kCamW = 97, kCamH = 61;
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> value(-1.0f, 2.0f);
    const Kiln::Image pano = test::makeImage(kW, kH, 4, [&](int, int, int) { return value(rng); });
    namespace IP = Kiln::ImageProjection;
    IP::ProjectionRecords look;
    look.camera = {0.0f, 14.0f, 36.0f, 24.0f, 1.1f, 1.0f, {}, {}, 0, 1};
    look.lens = {{}, {3.0f, -2.0f}, false, {}};
    look.parallax.depth = 0.0f;
    const auto axis = [](double degrees, int i) {
        std::array<double, 4> q{std::cos(degrees * M_PI / 360.0), 0.0, 0.0, 0.0};
        q[size_t(i)] = std::sin(degrees * M_PI / 360.0);
        return q;
    };
    const auto times = [](const std::array<double, 4>& a, const std::array<double, 4>& b) {
        return std::array<double, 4>{a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
                                     a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
                                     a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
                                     a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
    };
    const std::array<float, 3> kAngles[] = {
        {10, 30, 0}, {80, -120, 20}, {-75, 175, -10}, {120, 60, 30}};
    // Rectilinear, then a fisheye short enough that its corners look past pi (nothing there).
    for (int i = 0; i < 8; ++i) {
        const auto type =
            i < 4 ? Kernels::IdealLens::Type::Rectilinear : Kernels::IdealLens::Type::Fisheye;
        const std::array<float, 3> angles = kAngles[i % 4];
        look.camera.projection = int(type);
        look.camera.focalLength = i < 4 ? 14.0f : 6.0f;
        look.camera.rotation = angles;
        // Camera to rig frame: Ry Rx Rz.
        const auto q = times(times(axis(angles[1], 2), axis(angles[0], 1)), axis(angles[2], 3));
        Kiln::Image positions = test::constantImage(kCamW, kCamH, 2, 0.0f);
        Kernels::projectPositions(
            positions, IP::projectionScalars(look, true, true, {kW, kH}, {kCamW, kCamH}));
        const Kernels::IdealLens lens{type,
                                      look.camera.focalLength * kCamW / 36.0f,
                                      0.5f * kCamW + 3.0f,
                                      0.5f * kCamH - 2.0f,
                                      1.1f};
        for (Filter f : kFilters) {
            Kiln::Image through = test::constantImage(kCamW, kCamH, 4, -7.0f);
            Kernels::lookThrough(
                pano, through, {float(q[0]), float(q[1]), float(q[2]), float(q[3])}, lens, f);
            Kiln::Image resampled = test::constantImage(kCamW, kCamH, 4, 7.0f);
            Kernels::resample(f, pano, positions, resampled, kW, kH, true);
            // Nearest picks a pixel and Lanczos one of 1024 phases of weights: float rounding
            // of a position on an edge of its pick may flip it.
            const double steps = f == Filter::Nearest ? 1 : f == Filter::Lanczos ? 1024 : 0;
            const auto onEdge = [&](float v) {
                return Kernels::isSample(v) &&
                       std::abs(std::remainder((v - 0.5) * steps + 0.5, 1.0)) < 0.05;
            };
            for (int y = 0; y < kCamH; ++y)
                for (int x = 0; x < kCamW; ++x) {
                    const float* p = test::pixel(positions, x, y);
                    if (onEdge(p[0]) || onEdge(p[1])) continue;
                    for (int c = 0; c < 4; ++c)
                        ASSERT_NEAR(
                            test::pixel(through, x, y)[c], test::pixel(resampled, x, y)[c], 4e-3f)
                            << "lens " << int(type) << " angles " << angles[0] << " " << angles[1]
                            << " " << angles[2] << " filter " << int(f) << " at " << x << ", " << y;
                }
        }
    }
    // A lens without a focal length shows nothing.
    Kiln::Image none = test::constantImage(kCamW, kCamH, 4, -7.0f);
    Kernels::lookThrough(pano, none, {1, 0, 0, 0}, {{}, 0.0f, 40.0f, 30.0f, 1.0f}, Filter::Cubic);
    EXPECT_EQ(test::pixel(none, 40, 30)[3], 0.0f);
}

}  // namespace
