// SPDX-License-Identifier: Apache-2.0
// The projection functors: validity, the position-image cache, the focal and field-of-view
// rules, seams and poles, and bad records.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "RenderTestImages.h"
#include "kiln/Exception.h"
#include "render/kernels/PositionImage.h"
#include "render/kernels/ProjectionKernel.h"
#include "render/projection/ProjectFrom.h"
#include "render/projection/ProjectTo.h"
#include "render/projection/QuaternionRotate.h"
#include "render/projection/VectorRotate.h"
#include "vellacam/CameraDefinition.h"

using namespace Kiln::ImageProjection;
namespace test = Korvane::Research::test;
namespace K = Korvane::Research::Kernels;

namespace {

constexpr double kPi = 3.14159265358979323846;

ProjectionRecords fisheyeRecords(float focal) {
    ProjectionRecords r;
    r.camera.projection = 1;
    r.camera.focalLength = focal;
    r.camera.sensorWidth = 22.3f;
    r.camera.rotation = {5, 30, 0};
    r.lens.distortion = {0.005f, -0.03f, 0.01f};
    r.parallax.depth = 5;
    return r;
}

// Components of `image` within 1e-5 of `value`, in channel c (or all channels when c < 0).
int countEqual(const Kiln::Image& image, float value, int c = -1) {
    int n = 0;
    for (int y = image.box().y0; y < image.box().y1; ++y)
        for (int x = image.box().x0; x < image.box().x1; ++x)
            for (int k = 0; k < image.channels(); ++k)
                n += (c < 0 || c == k) && std::abs(test::pixel(image, x, y)[k] - value) < 1e-5f;
    return n;
}

// The largest difference between `pano` turned by q through the turn kernel with filter f and
// the same turn as a position image in double precision, resampled through the filter.
float turnError(const Kiln::Image& pano, const Quaternion& q, Filter f) {
    const int w = pano.box().width(), h = pano.box().height();
    VectorRotate vectors(q);
    vectors.setSourceSize({w, h});
    Kiln::Image positions = test::constantImage(w, h, 2, 0.0f);
    EXPECT_TRUE(vectors.run(positions, {w, h}));
    Kiln::Image turned = test::constantImage(w, h, pano.channels(), -5.0f);
    QuaternionRotate(f).run(turned, pano, q);
    Kiln::Image expected = test::constantImage(w, h, pano.channels(), 5.0f);
    K::resample(f, pano, positions, expected, w, h, true);
    float worst = 0.0f;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < pano.channels(); ++c)
                worst = std::max(
                    worst, std::abs(test::pixel(turned, x, y)[c] - test::pixel(expected, x, y)[c]));
    return worst;
}

bool allFinite(const Kiln::Image& image) {
    for (int y = image.box().y0; y < image.box().y1; ++y)
        for (int x = image.box().x0; x < image.box().x1; ++x)
            for (int k = 0; k < image.channels(); ++k)
                if (!std::isfinite(test::pixel(image, x, y)[k])) return false;
    return true;
}

TEST(ImageProjection, InvalidFunctorsAndBadLaunchesWriteNothing) {
    const Kiln::Image camera = test::constantImage(32, 24, 4, 1.0f);
    Kiln::Image pano = test::constantImage(64, 32, 4, 3.0f);
    ProjectTo projection(2);
    projection.records() = fisheyeRecords(9.0f);
    EXPECT_FALSE(projection.isValid());
    EXPECT_FALSE(projection.run(pano, camera, {64, 32})) << "source size never set";
    projection.setSourceSize({32, 24});
    EXPECT_FALSE(projection.run(pano, camera, {-1, -1})) << "destination size never set";
    EXPECT_EQ(countEqual(pano, 3.0f), 64 * 32 * 4);

    // Source and destination of different channel counts: no resampling variant.
    Kiln::Image rgb = test::constantImage(64, 32, 3, 3.0f);
    EXPECT_THROW(projection.run(rgb, camera, {64, 32}), Kiln::KernelError);
    EXPECT_EQ(countEqual(rgb, 3.0f), 64 * 32 * 3);
}

TEST(ImageProjection, PositionImagesAreComputedOnceAndRecomputedWhenTheProjectionChanges) {
    const PositionImageCachePtr cache = PositionImageCache::instance();
    cache->clear();
    const Kiln::Image camera = test::constantImage(40, 30, 1, 1.0f);
    Kiln::Image pano = test::constantImage(64, 32, 1, 0.0f);
    ProjectTo projection(2);
    projection.records() = fisheyeRecords(9.0f);
    projection.setSourceSize({40, 30});
    const auto run = [&](Size dest) {
        const std::size_t misses = cache->misses(), hits = cache->hits();
        Kiln::Image out = test::constantImage(dest.width, dest.height, 1, 0.0f);
        EXPECT_TRUE(projection.run(out, camera, dest));
        return std::make_pair(cache->misses() - misses, cache->hits() - hits);
    };
    using Counts = std::pair<std::size_t, std::size_t>;
    EXPECT_EQ(run({64, 32}), Counts(1, 0));
    EXPECT_EQ(run({64, 32}), Counts(0, 1));
    projection.setFilter(Filter::Lanczos);
    EXPECT_EQ(run({64, 32}), Counts(0, 1)) << "the filter does not change positions";
    EXPECT_EQ(run({128, 64}), Counts(1, 0)) << "destination size";
    projection.setSourceSize({20, 15});
    EXPECT_EQ(run({64, 32}), Counts(1, 0)) << "source size";
    projection.records().lens.distortion[1] = -0.02f;
    EXPECT_EQ(run({64, 32}), Counts(1, 0)) << "lens";
    projection.records().camera.rotation[1] = 31;
    EXPECT_EQ(run({64, 32}), Counts(1, 0)) << "pose";
    projection.records().otherType = 3;
    EXPECT_EQ(run({64, 32}), Counts(1, 0)) << "projection";
    EXPECT_EQ(cache->entries(), 6u);

    // Bounded memory: the least recently used image goes first; an image larger than the whole
    // capacity is returned but not kept.
    PositionImageCache small;
    const auto scalars = [](float depth, float size) {
        ProjectionRecords r = fisheyeRecords(9.0f);
        r.parallax.depth = depth;
        return projectionScalars(r, false, false, {40, 30}, {int(size), int(size) / 2});
    };
    const Kiln::Image first = small.positions(scalars(1, 64), camera.device());
    const std::size_t one = small.bytes();
    small.setCapacity(2 * one);
    small.positions(scalars(2, 64), camera.device());
    small.positions(scalars(1, 64), camera.device());  // now the most recent
    small.positions(scalars(3, 64), camera.device());  // drops depth 2
    EXPECT_EQ(small.entries(), 2u);
    EXPECT_LE(small.bytes(), small.capacity());
    const std::size_t misses = small.misses();
    small.positions(scalars(1, 64), camera.device());
    EXPECT_EQ(small.misses(), misses);
    small.positions(scalars(2, 64), camera.device());
    EXPECT_EQ(small.misses(), misses + 1);
    EXPECT_FALSE(small.positions(scalars(1, 256), camera.device()).empty());
    EXPECT_LE(small.bytes(), small.capacity());

    // A box of the frame (a camera's footprint in a large panorama) is computed alone, equal to
    // the whole frame's positions there; a box inside a kept one is served by it, one reaching
    // out of the frame gets its part inside.
    PositionImageCache boxes;
    const Kiln::Image whole = boxes.positions(scalars(4, 64), camera.device());
    boxes.clear();
    const Kiln::Box footprint{10, 4, 40, 28};
    const Kiln::Image part = boxes.positions(scalars(4, 64), camera.device(), footprint);
    EXPECT_EQ(part.box(), footprint);
    EXPECT_EQ(boxes.bytes(), std::size_t(part.rowBytes()) * 24);
    int differ = 0;
    for (int y = footprint.y0; y < footprint.y1; ++y)
        for (int c = 0; c < 2 * footprint.width(); ++c)
            differ += reinterpret_cast<const float*>(part.row(y))[c] !=
                      reinterpret_cast<const float*>(whole.row(y))[2 * footprint.x0 + c];
    EXPECT_EQ(differ, 0);
    const std::size_t before = boxes.misses();
    EXPECT_EQ(boxes.positions(scalars(4, 64), camera.device(), {12, 5, 30, 20}).box(), footprint);
    EXPECT_EQ(boxes.misses(), before);
    EXPECT_EQ(boxes.positions(scalars(4, 64), camera.device(), {50, 20, 90, 60}).box(),
              (Kiln::Box{50, 20, 64, 32}));
    EXPECT_EQ(boxes.misses(), before + 1);
    EXPECT_EQ(boxes.entries(), 2u);
    // Both kept boxes of one projection age out one by one.
    boxes.setCapacity(boxes.bytes() - 1);
    EXPECT_EQ(boxes.entries(), 1u);
    EXPECT_EQ(boxes.positions(scalars(4, 64), camera.device(), {52, 22, 60, 30}).box(),
              (Kiln::Box{50, 20, 64, 32}));
    EXPECT_EQ(boxes.misses(), before + 1);
}

TEST(ImageProjection, FocalLengthAndFieldOfViewRules) {
    CameraRecord rect;
    rect.projection = 0;
    rect.sensorWidth = 36.0f;
    rect.focalLength = 0.0f;
    CameraRecord tiny = rect;
    tiny.focalLength = 0.001f;
    EXPECT_EQ(fieldOfView(rect), fieldOfView(tiny)) << "focal 0 is read as 0.001";
    EXPECT_TRUE(std::isfinite(fieldOfView(rect)));
    // Against the rig library's own field of view, both lenses.
    Korvane::Research::CameraDefinition def;
    def.setSensorSize({36.0, 24.0});
    def.setFocalLength(18.0);
    for (auto type : {Korvane::Research::ProjectionTypeEnum::Rectilinear,
                      Korvane::Research::ProjectionTypeEnum::Fisheye}) {
        def.setProjection(type);
        EXPECT_NEAR(fieldOfView(cameraRecord(def)), def.getFieldOfView(), 1e-4);
    }
    // A fisheye rig's 190-degree lens.
    CameraRecord fisheye = rect;
    fisheye.projection = 1;
    fisheye.focalLength = float(36.0 / (190.0 * kPi / 180.0));
    EXPECT_NEAR(fieldOfView(fisheye), 190.0f, 1e-3);

    // Latlong on either side, or one lens type on both, passes the focal length through.
    for (int other : {0, 1, 2, 3}) EXPECT_EQ(convertFocalLength(12.5f, 36.0f, 2, other), 12.5f);
    EXPECT_EQ(convertFocalLength(12.5f, 36.0f, 0, 3), 12.5f);
    EXPECT_EQ(convertFocalLength(12.5f, 36.0f, 1, 1), 12.5f);
    // Between the lenses the sensor width keeps its field of view, both ways.
    for (float f : {8.0f, 18.0f, 50.0f}) {
        CameraRecord a = rect, b = rect;
        a.focalLength = f;
        b.projection = 1;
        b.focalLength = convertFocalLength(f, 36.0f, 0, 1);
        EXPECT_NEAR(fieldOfView(a), fieldOfView(b), 1e-3) << f;
        EXPECT_NEAR(convertFocalLength(b.focalLength, 36.0f, 1, 0), f, 1e-3 * f);
    }
    // 190 degrees cannot be rectilinear: the view is capped at 170.
    CameraRecord capped = rect;
    capped.focalLength = convertFocalLength(fisheye.focalLength, 36.0f, 1, 0);
    EXPECT_NEAR(fieldOfView(capped), 170.0f, 1e-3);
    EXPECT_GT(convertFocalLength(0.0f, 36.0f, 1, 0), 0.0f);
}

TEST(ImageProjection, BadRecordsShowNothingAndNeverNaN) {
    const Kiln::Image camera = test::constantImage(32, 24, 4, 1.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ProjectionRecords bad[5];
    for (auto& r : bad) r = fisheyeRecords(9.0f);
    bad[0].camera.focalLength = 0.0f;
    bad[1].camera.focalLength = -4.0f;
    bad[2].camera.rotation[0] = nan;
    bad[3].lens.distortion = {0.0f, 0.0f, 1.5f};  // d < 0: the polynomial is unusable
    bad[4].camera.enabled = 0;
    for (const ProjectionRecords& records : bad) {
        ProjectTo projection(2);
        projection.records() = records;
        projection.setSourceSize({32, 24});
        projection.setFilter(Filter::Lanczos);
        Kiln::Image pano = test::constantImage(64, 32, 4, 3.0f);
        ASSERT_TRUE(projection.run(pano, camera, {64, 32}));
        EXPECT_EQ(countEqual(pano, 0.0f), 64 * 32 * 4);
    }
    // A source of one pixel, a 190-degree fisheye into a rectilinear ideal view.
    ProjectionRecords wide = fisheyeRecords(float(22.3 / (190.0 * kPi / 180.0)));
    wide.lens.distortion = {0, 0, 0};
    wide.otherType = 0;
    ProjectTo projection(0);
    projection.records() = wide;
    projection.setSourceSize({1, 1});
    const Kiln::Image dot = test::constantImage(1, 1, 4, 0.5f);
    Kiln::Image view = test::constantImage(48, 32, 4, 3.0f);
    ASSERT_TRUE(projection.run(view, dot, {48, 32}));
    EXPECT_TRUE(allFinite(view));
    EXPECT_EQ(countEqual(view, 3.0f), 0);
}

// A constant panorama seen through virtual cameras that look across the seam and at the poles:
// every pixel that has a ray shows the panorama, alpha 1; nothing is dropped at x = 0 or at
// latitude 90 degrees.
TEST(ImageProjection, SeamAndPolesLeaveNoHoles) {
    const Kiln::Image pano = test::constantImage(128, 64, 4, 1.0f);
    struct View {
        int type;
        float focal;
        std::array<float, 3> rotation;
    };
    const View views[] = {{0, 10.0f, {0, 180, 0}},   // rectilinear, looking backwards
                          {1, 7.0f, {-90, 0, 0}},    // fisheye, 180 degrees, straight up
                          {1, 7.0f, {90, 180, 30}},  // straight down, rolled
                          {0, 10.0f, {-89.9f, 180, 0}}};
    for (const View& v : views)
        for (Filter f : {Filter::Bilinear, Filter::Cubic, Filter::Lanczos, Filter::Nearest}) {
            ProjectFrom projection(2);
            projection.records().camera.projection = v.type;
            projection.records().camera.focalLength = v.focal;
            projection.records().camera.sensorWidth = 22.0f;
            projection.records().camera.rotation = v.rotation;
            projection.records().parallax.depth = 0;  // a virtual camera at the rig centre
            projection.setSourceSize({128, 64});
            projection.setFilter(f);
            Kiln::Image out = test::constantImage(48, 48, 4, 0.0f);
            ASSERT_TRUE(projection.run(out, pano, {48, 48}));
            EXPECT_EQ(countEqual(out, 1.0f, 3), 48 * 48)
                << "view " << &v - views << " filter " << int(f);
        }
}

// Half a pixel of yaw: every output pixel is the mean of two neighbours, across the seam too
// (the position image of the same turn is held to the turn kernel in the sideways test below).
TEST(ImageProjection, RotationWrapsAroundTheSeam) {
    constexpr int kW = 64, kH = 32;
    const Kiln::Image pano =
        test::makeImage(kW, kH, 1, [](int x, int y, int) { return float((x * 37 + y * 11) % 17); });
    const double half = kPi / kW;  // half a pixel of longitude (2 pi / W a pixel), about +Y
    const Quaternion q{float(std::cos(half / 2)), 0, float(std::sin(half / 2)), 0};
    Kiln::Image out = test::constantImage(kW, kH, 1, -1.0f);
    QuaternionRotate rotate(Filter::Bilinear);
    rotate.run(out, pano, q);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const float expected =
                0.5f * (*test::pixel(pano, x, y) + *test::pixel(pano, (x + 1) % kW, y));
            ASSERT_NEAR(*test::pixel(out, x, y), expected, 2e-3f) << x << ", " << y;
        }
    // The inverse of a turn that is not of unit length.
    const Quaternion unnormalised = inverse({2, 0, 2, 0});
    EXPECT_FLOAT_EQ(unnormalised.w, 0.25f);
    EXPECT_FLOAT_EQ(unnormalised.y, -0.25f);
}

// Turns against the same turn as a position image in double precision resampled by the general
// resampler: a general turn of an RGBA panorama (the kernel's own row loops: fast arc
// tangents, the four-channel bilinear path, column strips), and turns about +Y, which take their
// own row path (a shift along each row), across the seam and either way; no turn copies the
// panorama exactly.
TEST(ImageProjection, TurnsMatchPositionsForEveryFilterAndChannelCount) {
    constexpr int kW = 200, kH = 60;  // not a multiple of the kernel's column strips
    for (int channels : {1, 4}) {
        const Kiln::Image pano = test::makeImage(kW, kH, channels, [](int x, int y, int c) {
            return float(std::sin(0.13 * x + 0.3 * c) * std::cos(0.09 * y) + 0.01 * ((x * y) % 5));
        });
        // The slope is at most 0.13 a pixel: 2e-3 is a position error of about 0.015 px.
        for (Filter f : {Filter::Bilinear, Filter::Cubic, Filter::Lanczos})
            EXPECT_LT(turnError(pano, {0.9f, 0.2f, -0.3f, 0.25f}, f), 2e-3f)
                << "filter " << int(f) << ", " << channels << " channels";
        for (double degrees : {0.7, -33.4, 179.1, 400.2}) {
            const double half = degrees * M_PI / 360.0;
            const Quaternion q{float(std::cos(half)), 0.0f, float(std::sin(half)), 0.0f};
            for (Filter f : {Filter::Bilinear, Filter::Cubic, Filter::Lanczos, Filter::Nearest})
                EXPECT_LT(turnError(pano, q, f), 2e-3f) << "filter " << int(f) << ", " << degrees
                                                        << " degrees, " << channels << " channels";
        }
        Kiln::Image same = test::constantImage(kW, kH, channels, -5.0f);
        QuaternionRotate(Filter::Cubic).run(same, pano, Quaternion{-2, 0, 0, 0});
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                for (int c = 0; c < channels; ++c)
                    ASSERT_EQ(test::pixel(same, x, y)[c], test::pixel(pano, x, y)[c])
                        << x << ", " << y;
    }
}

}  // namespace
