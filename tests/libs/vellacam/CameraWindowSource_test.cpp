// SPDX-License-Identifier: Apache-2.0
#include "vellacam/CameraWindowSource.h"

#include <gtest/gtest.h>

using namespace Korvane::Research;

namespace {

/// One 8 x 3 file per input whose pixel (i, j) holds 100 * input + 10 * j + i; counts reads.
class Files : public FeatureImageSource {
public:
    bool getImage(int input, int, FeatureImage* image) override {
        ++reads;
        image->width = 8;
        image->height = 3;
        image->pixels.clear();
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 8; ++i) image->pixels.push_back(float(100 * input + 10 * j + i));
        return true;
    }
    void warning(const std::string& text) override { warnings.push_back(text); }
    int reads = 0;
    std::vector<std::string> warnings;
};

CameraRigDefinition sideBySide() {
    CameraRigDefinition rig;
    rig.setNumberCameras(3);
    for (int c = 0; c < 3; ++c) rig.getCamera(c).setOutputView("cam" + std::to_string(c + 1));
    rig.getCamera(0).setFormat(4, 2);
    rig.getCamera(0).setCropWindow(Eigen::Vector2i(0, 1));
    rig.getCamera(1).setFormat(4, 2);
    rig.getCamera(1).setCropWindow(Eigen::Vector2i(4, 0));
    rig.getCamera(2).setFormat(8, 3);  // no window: the whole file
    return rig;
}

TEST(CameraWindowSource, CamerasSharingAFileGetTheirOwnPartOfIt) {
    Files files;
    CameraRigDefinition rig = sideBySide();
    CameraWindowSource source(files, rig, {0, 0, 1});
    EXPECT_EQ(source.cameraInputs(), std::vector<int>({0, 1, 2}));
    FeatureImage image;
    ASSERT_TRUE(source.getImage(0, 5, &image));
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(image.at(0, 0), 10.0f);  // the file's row 1: the window starts one row up
    EXPECT_EQ(image.at(3, 1), 23.0f);
    ASSERT_TRUE(source.getImage(1, 5, &image));
    EXPECT_EQ(image.at(3, 1), 17.0f);
    EXPECT_EQ(files.reads, 1);  // both cameras from one read of the file
    ASSERT_TRUE(source.getImage(2, 5, &image));
    EXPECT_EQ(image.at(7, 2), 127.0f);           // no window: the whole file
    ASSERT_TRUE(source.getImage(0, 6, &image));  // another frame is read again
    EXPECT_EQ(files.reads, 3);

    // A window past its file gives no image and names the camera.
    rig.getCamera(1).setCropWindow(Eigen::Vector2i(5, 0));
    EXPECT_FALSE(source.getImage(1, 6, &image));
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(files.warnings,
              std::vector<std::string>(
                  {"camera cam2's crop window (4 x 2 from 5, 0) reaches past its 8 x 3 footage"}));
}

}  // namespace
