// SPDX-License-Identifier: Apache-2.0
// The render paths through the node: camera views per mode against a direct projection of the
// input through the same grid, and the panorama cache.
#include "render/RenderDispatcher.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "../TestRigSource.h"
#include "analysis/GridMapKnob.h"
#include "analysis/WarpInverse.h"
#include "kiln/AutoContextThreadBinder.h"
#include "kiln/KilnLibrary.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "render/kernels/PositionImage.h"
#include "render/projection/PositionImageCache.h"

using namespace PX::Image;
using namespace Korvane::Research;
using NodeTests::RigFixture;

namespace {

constexpr int kW = 8, kH = 6;

class CameraViewPath : public ::testing::Test {
protected:
    CameraViewPath() : f({"main", "cam1", "cam2", "cam3"}) {
        f.node->setKnobFromUser("resampleType", "Bilinear");
        // A vector field of about the small panoramas' size, not the default 2048 x 1024.
        f.node->setKnobFromUser("vectorDetail", "0.03");
        // A smooth warp of cam2 (camera 1, grid view 2): about a pixel, varying over the frame.
        grid = Grid2D(3, 3);
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i) grid.at(i, j) = {0.5 * i - 0.25 * j, 0.3 * j};
        op()->knobManager().gridMap()->setGrid(1, 2, grid);
    }
    DizuvaRuviPlugin* op() const { return f.op(); }
    ImagePlane render(const std::string& view, const ChannelSet& channels) {
        ImagePlane plane = f.render(view, channels);
        EXPECT_TRUE(plane.hasBuffer()) << op()->errorMessage();
        return plane;
    }

    RigFixture f;
    Grid2D grid;
};

}  // namespace

TEST_F(CameraViewPath, UnwarpedShowsTheInputAndItsStitchMapOfIdentityWithoutAGrid) {
    const ImagePlane plane = render("cam2", Mask_RGBA | Mask_StitchMap);
    if (!plane.hasBuffer()) return;
    const WarpInverse warp(grid, kW, kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            EXPECT_EQ(plane.at(x, y, plane.chanNo(Chan_Red)), float(Views::find("cam2")));
            EXPECT_EQ(plane.at(x, y, plane.chanNo(Chan_Green)), float(x));
            EXPECT_EQ(plane.at(x, y, plane.chanNo(Chan_Blue)), float(y));
            const Eigen::Vector2d q(x + 0.5, y + 0.5);
            const Eigen::Vector2d p = q + warp.displacement(q);
            EXPECT_NEAR(plane.at(x, y, plane.chanNo(Chan_StitchMap_U)), p.x(), 1e-4) << x << y;
            EXPECT_NEAR(plane.at(x, y, plane.chanNo(Chan_StitchMap_V)), p.y(), 1e-4) << x << y;
        }
    const ImagePlane reset = render("cam1", Mask_StitchMap);
    if (!reset.hasBuffer()) return;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            EXPECT_FLOAT_EQ(reset.at(x, y, 0), x + 0.5f) << "no grid: no displacement";
            EXPECT_FLOAT_EQ(reset.at(x, y, 1), y + 0.5f);
        }
}

TEST_F(CameraViewPath, WarpedSamplesTheInputAtQPlusDOfQAndEditModeShowsTheInput) {
    f.node->setKnobFromUser("cameraOutputMode", "Warped");
    const ImagePlane plane = render("cam2", Mask_RGBA);
    if (!plane.hasBuffer()) return;
    const WarpInverse warp(grid, kW, kH);
    int compared = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const Eigen::Vector2d q(x + 0.5, y + 0.5);
            const Eigen::Vector2d p = q + warp.displacement(q);
            // Green and blue are ramps of the pixel index: bilinear sampling at p gives p - 0.5
            // wherever all four taps lie inside the image.
            if (p.x() < 0.5 || p.x() > kW - 0.5 || p.y() < 0.5 || p.y() > kH - 0.5) continue;
            EXPECT_NEAR(plane.at(x, y, plane.chanNo(Chan_Green)), p.x() - 0.5, 1e-4) << x << y;
            EXPECT_NEAR(plane.at(x, y, plane.chanNo(Chan_Blue)), p.y() - 0.5, 1e-4) << x << y;
            EXPECT_FLOAT_EQ(plane.at(x, y, plane.chanNo(Chan_Alpha)), 1.0f);
            ++compared;
        }
    EXPECT_GT(compared, kW * kH / 2);

    f.node->setKnobFromUser("addPoint", "true");
    const ImagePlane edit = render("cam2", Mask_RGBA);
    for (int x = 0; x < kW; ++x) EXPECT_EQ(edit.at(x, 2, edit.chanNo(Chan_Green)), float(x));
}

TEST_F(CameraViewPath, AnInputLackingTheChannelsIsAnErrorNamingTheInput) {
    f.validate("cam2");
    ChannelSet channels = Mask_RGBA;
    channels += getChannel("depth.Z");
    const ImagePlane plane = op()->fetchPlane(op()->info().box(), channels);
    EXPECT_FALSE(plane.hasBuffer());
    EXPECT_EQ(op()->errorMessage().rfind("Input 2 missing", 0), 0u) << op()->errorMessage();
}

// Footage can hold NaNs and infinities (renders, divisions upstream). One such pixel of one
// camera must not spread through the filters, gains and pyramids into the whole panorama, nor
// through the vector field into memory far outside the camera: it becomes a hole.
TEST_F(CameraViewPath, ANonFiniteInputPixelStaysAHoleInTheWarpedPanoramaAndCameraView) {
    f.sourceOp()->setRig(3);
    f.sourceOp()->nonFiniteAt[Views::find("cam2")] = {4, 3};
    f.node->setKnobFromUser("outputFormat", "64 32");
    f.node->setKnobFromUser("blendType", "Multi-Band");
    f.node->setKnobFromUser("outputMode", "Warped");
    f.node->setKnobFromUser("cameraOutputMode", "Warped");
    for (const char* view : {"main", "cam2"}) {
        const ImagePlane p = render(view, Mask_RGBA);
        if (!p.hasBuffer()) return;
        int nonFinite = 0, seen = 0, pixels = 0;
        for (int y = p.bounds().y(); y < p.bounds().t(); ++y)
            for (int x = p.bounds().x(); x < p.bounds().r(); ++x, ++pixels) {
                for (int c = 0; c < 4; ++c) nonFinite += !std::isfinite(p.at(x, y, c));
                seen += p.at(x, y, p.chanNo(Chan_Alpha)) > 0.5f;
            }
        EXPECT_EQ(nonFinite, 0) << view;
        EXPECT_GT(seen, pixels * 2 / 3) << view;
    }
}

TEST_F(CameraViewPath, TheNextPanoramaFindsEveryCamerasPositionsHoweverSmallTheCache) {
    f.sourceOp()->setRig(3);
    f.node->setKnobFromUser("outputFormat", "64 32");
    f.node->setKnobFromUser("blendType", "Multi-Band");
    const auto positions = Kiln::ImageProjection::PositionImageCache::instance();
    const std::size_t capacity = positions->capacity();
    positions->clear();
    positions->setCapacity(1);
    render("main", Mask_RGBA);
    const std::size_t misses = positions->misses();
    EXPECT_GT(positions->entries(), 3u) << "every camera's footprint and the grid it was found on";
    f.node->setKnobFromUser("blendType", "Alpha");  // another panorama of the same cameras
    render("main", Mask_RGBA);
    EXPECT_EQ(positions->misses(), misses);
    positions->setCapacity(capacity);
}

TEST_F(CameraViewPath, ThePanoramaIsCachedPerHashAndChannelSetAndTheViewTurnsReuseIt) {
    f.sourceOp()->setRig(3);
    f.node->setKnobFromUser("outputFormat", "64 32");
    const PanoramaCache& cache = op()->renderDispatcher().panoramaCache();
    const ImagePlane first = render("main", Mask_RGBA);
    EXPECT_EQ(cache.misses(), 1);
    render("main", Mask_RGBA);
    EXPECT_EQ(cache.hits(), 1);
    f.node->setKnobFromUser("rotationAngles", "{0 45 0}");
    const ImagePlane turned = render("main", Mask_RGBA);
    EXPECT_EQ(cache.hits(), 2) << "a view turn reuses the panorama";
    // So does looking around through a virtual camera, whose new positions at every turn stay
    // out of the process's position cache: kept, they would soon push the cameras' out of it.
    const auto positions = Kiln::ImageProjection::PositionImageCache::instance();
    const std::size_t entries = positions->entries(), misses = positions->misses();
    f.node->setKnobFromUser("projectionType", "Rectilinear");
    for (const char* angles : {"{10 50 0}", "{-20 170 5}"}) {
        f.node->setKnobFromUser("rotationAngles", angles);
        const ImagePlane view = render("main", Mask_RGBA);
        if (!view.hasBuffer()) return;
        EXPECT_GT(view.at(32, 16, view.chanNo(Chan_Alpha)), 0.0f) << angles;
    }
    EXPECT_EQ(cache.hits(), 4);
    EXPECT_EQ(positions->entries(), entries);
    EXPECT_EQ(positions->misses(), misses);
    ChannelSet red;
    red += Chan_Red;
    render("main", red);
    EXPECT_EQ(cache.misses(), 2) << "another channel set";
    f.node->setKnobFromUser("blendType", "Multi-Band");
    render("main", red);
    EXPECT_EQ(cache.misses(), 3) << "another blend";
    // A turn of 45 degrees about Y moves the content by an eighth of the width.
    int same = 0;
    for (int x = 0; x < 64; ++x)
        same += first.at(x, 16, 0) == turned.at((x + 8) % 64, 16, 0) ||
                first.at(x, 16, 0) == turned.at((x + 56) % 64, 16, 0);
    EXPECT_GT(same, 48);
}

// The node keeps its stitcher and every camera's projected image between panorama builds. A
// build after others that change the panorama's size, leave cameras out and change the blend
// gives the first build's pixels again, and a panorama the cache handed out earlier is not
// written over by later builds.
TEST_F(CameraViewPath, PanoramaBuildsOnKeptImagesMatchTheFirstBuild) {
    f.sourceOp()->setRig(3);
    f.node->setKnobFromUser("outputFormat", "64 32");
    f.node->setKnobFromUser("blendType", "Multi-Band");
    f.node->setKnobFromUser("outputMode", "Warped");
    auto pixels = [this] {
        const ImagePlane p = render("main", Mask_RGBA);
        std::vector<float> v;
        for (int y = p.bounds().y(); y < p.bounds().t(); ++y)
            for (int x = p.bounds().x(); x < p.bounds().r(); ++x)
                for (int c = 0; c < 4; ++c) v.push_back(p.at(x, y, c));
        return v;
    };
    const std::vector<float> first = pixels();
    ASSERT_EQ(first.size(), 64u * 32u * 4u);
    const Kiln::Image held = op()->renderDispatcher().panoramaCache().last();
    ASSERT_FALSE(held.empty());
    const std::vector<float> heldBefore(reinterpret_cast<const float*>(held.row(0)),
                                        reinterpret_cast<const float*>(held.row(0)) + 64 * 4);
    f.node->setKnobFromUser("outputFormat", "32 16");
    EXPECT_EQ(pixels().size(), 32u * 16u * 4u);
    f.node->setKnobFromUser("outputFormat", "64 32");
    f.node->setKnobFromUser("outputView", "cam2");
    const std::vector<float> alone = pixels();
    EXPECT_NE(alone, first);
    f.node->setKnobFromUser("outputView", "main");
    f.node->setKnobFromUser("blendType", "Alpha");
    pixels();
    f.node->setKnobFromUser("blendType", "Multi-Band");
    EXPECT_EQ(pixels(), first);
    EXPECT_EQ(op()->renderDispatcher().panoramaCache().misses(), 5);
    EXPECT_EQ(std::vector<float>(reinterpret_cast<const float*>(held.row(0)),
                                 reinterpret_cast<const float*>(held.row(0)) + 64 * 4),
              heldBefore);
}

TEST_F(CameraViewPath, LatlongProjectionMatchesTheRigLibraryThroughTheSameGrid) {
    // Cameras large enough that the warp's positions, sampled at pixel centres and composed
    // bilinearly, stand for the grid's triangles to a small fraction of a pixel.
    const int w = 64, h = 48;
    f.sourceOp()->width = w, f.sourceOp()->height = h;
    f.sourceOp()->setRig(3);
    f.node->setKnobFromUser("outputFormat", "128 64");
    f.node->setKnobFromUser("cameraProjectionType", "Latlong");
    f.node->setKnobFromUser("autoConvergenceDepth", "false");
    f.node->setKnobFromUser("convergenceDepth", "4");
    for (const char* mode : {"Unwarped", "Warped"}) {
        f.node->setKnobFromUser("cameraOutputMode", mode);
        f.node->setKnobFromUser("outputMode", mode);
        const ImagePlane plane = render("cam2", Mask_RGBA | Mask_StitchMap);
        if (!plane.hasBuffer()) return;
        MetaDataHandler rig;
        rig.updateMetaDataBundle(f.sourceOp()->bundle);
        SphericalTransform camera(rig.getCamera(1));
        camera.setOutputImageSize(128, 64);
        camera.setConvergenceDepth(4.0);
        const WarpInverse warp(grid, w, h);
        const bool warped = std::string(mode) == "Warped";
        int seen = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x) {
                const float u = plane.at(x, y, plane.chanNo(Chan_StitchMap_U));
                const float v = plane.at(x, y, plane.chanNo(Chan_StitchMap_V));
                if (u == -1.0f && v == -1.0f) {
                    EXPECT_EQ(plane.at(x, y, plane.chanNo(Chan_Alpha)), 0.0f) << x << " " << y;
                    continue;
                }
                // The input position shown, taken back through the warp to the camera point,
                // lies on this panorama pixel's direction.
                Eigen::Vector2d q(u, v);
                if (warped) {
                    const auto back = warp.warpedPosition(q);
                    ASSERT_TRUE(back);
                    q = *back;
                }
                Eigen::Vector2d ideal;
                // Away from the frame's edge (the last half pixel has no bilinear neighbour)
                // and from the poles (where a pixel spans every longitude).
                if (q.x() < 1 || q.y() < 1 || q.x() > w - 1 || q.y() > h - 1) continue;
                if (y < 12 || y >= 52) continue;
                if (!camera.ProjectToIdeal(q, ProjectionTypeEnum::Latlong, &ideal)) continue;
                EXPECT_NEAR(ideal.x(), x + 0.5, 0.05) << mode << " " << x << " " << y;
                EXPECT_NEAR(ideal.y(), y + 0.5, 0.05) << mode << " " << x << " " << y;
                ++seen;
            }
        EXPECT_GT(seen, 10) << mode;
    }
}

TEST(PanoramaBox, HoldsEveryPixelWhereACameraShowsOverAPoleAndAcrossTheSeam) {
    // A camera pitched by 75 degrees (over a pole), one looking back (across the longitude
    // seam) and one to the side: their boxes and bands against every pixel of their full-size
    // positions.
    NodeTests::NodeFixture<NodeTests::TestRigSource> f(
        {"main", "cam1", "cam2", "cam3"}, "TestRigSource", [](NodeTests::TestRigSource& s) {
            s.setRig(3);
            MetaDataHandler handler;
            handler.updateMetaDataBundle(s.bundle);
            CameraRigDefinition rig = handler.getRig();
            const double pitch[] = {75, 0, 0}, yaw[] = {0, 180, 90};
            for (int c = 0; c < 3; ++c) {
                rig.getCamera(c).setFocalLength(20.0);
                rig.getCamera(c).setRotation(Eigen::Vector3d(pitch[c], yaw[c], 0));
            }
            handler.setRig(rig);
            s.bundle = handler.getMetaDataBundle();
        });
    ASSERT_TRUE(f.render("main", Mask_RGBA).hasBuffer()) << f.op()->errorMessage();
    WarpRenderer& renderer = f.op()->renderDispatcher().renderer();
    const auto cpu = Kiln::KilnLibrary::GetCurrentCPUContext();
    renderer.setDevices(cpu, cpu);
    Kiln::AutoContextThreadBinder binder(cpu);
    const int w = 512, h = 256;
    for (int c = 0; c < 3; ++c) {
        std::vector<Kiln::Box> bands;
        const Kiln::Box box = renderer.panoramaBox(c, {w, h}, &bands);
        const auto inside = [&](const Kiln::Box& b, int x, int y) {
            return y >= b.y0 && y < b.y1 &&
                   ((x >= b.x0 && x < b.x1) || (x + w >= b.x0 && x + w < b.x1));
        };
        Kiln::Image positions(Kiln::Info{Kiln::Box{0, 0, w, h}, 2}, nullptr);
        renderer.cameraPositions(positions, c, 1, {w, h});
        int shown = 0, outside = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (Kernels::isSample(reinterpret_cast<const float*>(positions.row(y))[2 * x])) {
                    ++shown;
                    outside += !inside(box, x, y) ||
                               std::none_of(bands.begin(), bands.end(), [&](const Kiln::Box& b) {
                                   return inside(b, x, y);
                               });
                }
        EXPECT_GT(shown, 0) << c;
        EXPECT_EQ(outside, 0) << "camera " << c;
        // Whole rows up to the pole; around the seam, a box passing the right edge.
        EXPECT_EQ(box.x0 == 0 && box.x1 == w && (box.y0 == 0 || box.y1 == h), c == 0) << c;
        EXPECT_EQ(box.x1 > w, c == 1) << c;
    }
}
