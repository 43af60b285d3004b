// SPDX-License-Identifier: Apache-2.0
// Renders of the small rendered rig. Cameras that share one file: the four cameras once as
// views of their own and once as crop windows of one side-by-side file give the same camera
// views and the same panoramas. A rig without links: its cameras are aligned where they overlap
// as if it had them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "NodeFixture.h"
#include "RenderedRigSource.h"
#include "analysis/GridMapKnob.h"
#include "plugin/DizuvaRuviPlugin.h"

using namespace Korvane::Research;
using namespace PX::Image;
using NodeTests::RenderedRigSource;

namespace {

struct CropFixture : NodeTests::NodeFixture<RenderedRigSource> {
    explicit CropFixture(bool sideBySide)
        : NodeFixture({"main", "cam1", "cam2", "cam3", "cam4"}, "RenderedRigSource") {
        sourceOp()->setRig(false, sideBySide);
        node->setKnobFromUser("outputFormat", "256 128");
        node->setKnobFromUser("resampleType", "Bilinear");
        node->setKnobFromUser("vectorDetail", "0.125");  // a field of the panorama's size
    }

    /// Smooth warps of a few pixels on cameras 2 and 3 (grid views 2 and 3), different each.
    void setGrids() {
        for (int view = 2; view <= 3; ++view) {
            Grid2D grid(4, 3);
            for (int j = 0; j < 3; ++j)
                for (int i = 0; i < 4; ++i)
                    grid.at(i, j) = {1.5 * view * std::sin(i + j), -2.0 * std::cos(i * j + view)};
            op()->knobManager().gridMap()->setGrid(1, view, grid);
        }
    }
};

// The largest difference between two planes over their common channels; infinity when their
// boxes differ.
float maxDifference(const ImagePlane& a, const ImagePlane& b) {
    if (a.bounds() != b.bounds()) return INFINITY;
    float worst = 0.0f;
    for (Channel ch : a.channels()) {
        if (b.chanNo(ch) < 0) return INFINITY;
        for (int y = a.bounds().y(); y < a.bounds().t(); ++y)
            for (int x = a.bounds().x(); x < a.bounds().r(); ++x)
                worst =
                    std::max(worst, std::abs(a.at(x, y, a.chanNo(ch)) - b.at(x, y, b.chanNo(ch))));
    }
    return worst;
}

// The share of pixels whose alpha is above a half.
double covered(const ImagePlane& plane) {
    int n = 0;
    const Box& b = plane.bounds();
    for (int y = b.y(); y < b.t(); ++y)
        for (int x = b.x(); x < b.r(); ++x) n += plane.at(x, y, plane.chanNo(Chan_Alpha)) > 0.5f;
    return double(n) / (double(b.w()) * double(b.h()));
}

}  // namespace

TEST(CropWindowRender, CamerasSharingOneFileRenderAsViewsOfTheirOwnInEveryMode) {
    struct Mode {
        const char* view;
        const char* warp;
        const char* projection;
        ChannelSet channels;
    };
    const char* const own = "Default (pass-through)";
    const Mode modes[] = {{"main", "Unwarped", own, Mask_RGBA},
                          {"main", "Warped", own, Mask_RGBA},
                          {"cam3", "Unwarped", own, Mask_RGBA},
                          {"cam3", "Unwarped", own, Mask_StitchMap},
                          {"cam3", "Warped", own, Mask_RGBA},
                          {"cam3", "Warped", "Latlong", Mask_RGBA}};
    for (const Mode& mode : modes) {
        SCOPED_TRACE(std::string(mode.view) + " " + mode.warp + " " + mode.projection);
        const bool panorama = std::string(mode.view) == "main";
        ImagePlane planes[2];
        for (int shared = 0; shared < 2; ++shared) {
            CropFixture f(shared == 1);
            f.setGrids();
            f.node->setKnobFromUser(panorama ? "outputMode" : "cameraOutputMode", mode.warp);
            f.node->setKnobFromUser("cameraProjectionType", mode.projection);
            planes[shared] = f.render(mode.view, mode.channels);
            ASSERT_TRUE(planes[shared].hasBuffer()) << f.op()->errorMessage();
            if (!panorama && std::string(mode.projection) != "Latlong") {
                EXPECT_EQ(f.op()->info().format().width(), 320) << "the camera's own size";
                EXPECT_EQ(f.op()->info().format().height(), 240);
            }
        }
        if (panorama) {
            EXPECT_EQ(planes[1].bounds(), Box(0, 0, 256, 128));
            EXPECT_GT(covered(planes[0]), 0.5) << "the cameras cover the horizon band";
        }
        EXPECT_LT(maxDifference(planes[0], planes[1]), 1e-5f);
    }
}

TEST(CropWindowRender, AWindowPastTheFileIsAnErrorNamingTheCameraAndThePanoramaGoesOnWithout) {
    CropFixture f(true);
    f.sourceOp()->setCropWindow(3, 1000, 10);
    const ImagePlane view = f.render("cam4", Mask_RGBA);
    EXPECT_FALSE(view.hasBuffer());
    EXPECT_NE(f.op()->errorMessage().find("Camera 4 (cam4)"), std::string::npos)
        << f.op()->errorMessage();
    EXPECT_NE(f.op()->errorMessage().find("1280 x 240"), std::string::npos);

    // The panorama is that of the other three cameras, as when camera 4 has no image at all.
    const ImagePlane panorama = f.render("main", Mask_RGBA);
    ASSERT_TRUE(panorama.hasBuffer()) << f.op()->errorMessage();
    CropFixture own(false);
    own.sourceOp()->missing = {"cam4"};
    const ImagePlane withoutCamera4 = own.render("main", Mask_RGBA);
    ASSERT_TRUE(withoutCamera4.hasBuffer()) << own.op()->errorMessage();
    EXPECT_LT(maxDifference(panorama, withoutCamera4), 1e-5f);
    CropFixture all(true);
    EXPECT_GT(maxDifference(panorama, all.render("main", Mask_RGBA)), 0.1f);
}

TEST(RigWithoutLinks, TheWarpedPanoramaAlignsTheOverlapsAsTheLinkedRigDoes) {
    auto warped = [](CropFixture& f) {
        f.node->setKnobFromUser("outputMode", "Warped");
        f.node->setKnobFromUser("blendType", "Multi-Band");
        ImagePlane plane = f.render("main", Mask_RGBA);
        EXPECT_TRUE(plane.hasBuffer()) << f.op()->errorMessage();
        return plane;
    };
    CropFixture linked(false), unlinked(false), unaligned(false);
    unlinked.sourceOp()->dropLinks();
    unaligned.node->setKnobFromUser("vectorDetail", "0");
    const ImagePlane panorama = warped(linked);
    EXPECT_EQ(maxDifference(warped(unlinked), panorama), 0.0f);
    // The field does move these cameras: without it the panorama differs.
    EXPECT_GT(maxDifference(warped(unaligned), panorama), 0.01f);
}
