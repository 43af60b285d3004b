// SPDX-License-Identifier: Apache-2.0
#include "RigOptions.h"

#include <tuple>

#include <gtest/gtest.h>

#include "MakeRigTest.h"

using namespace Korvane::MakeRig;
using MakeRigTest::words;

namespace {

TEST(RigOptions, ValuesAreRead) {
    const RigOptions d = RigOptions::parse({"--out", "dir"});
    EXPECT_EQ(d.outDir, "dir");
    EXPECT_EQ(d.totalCameras(), 6);
    EXPECT_TRUE(d.truth);

    const RigOptions o = RigOptions::parse(
        words("--out x --cameras 4 --up --down --size 640x480 --frames 3 --first 7 --lens "
              "rectilinear --distortion 0,-0.01,0 --seed 42 --ext png --no-truth --pano-size "
              "512x256 --points 10 --threads 3"));
    EXPECT_EQ(std::make_tuple(
                  o.totalCameras(), o.width, o.height, o.frames, o.first, o.panoWidth, o.points),
              std::make_tuple(6, 640, 480, 3, 7, 512, 10));
    EXPECT_EQ(o.threads, 3);
    EXPECT_EQ(o.lens, LensKind::Rectilinear);
    EXPECT_EQ(o.distortion, Eigen::Vector3d(0.0, -0.01, 0.0));
    EXPECT_EQ(o.seed, 42u);
    EXPECT_EQ(o.ext, "png");
    EXPECT_FALSE(o.truth);
    EXPECT_TRUE(RigOptions::parse({"--help"}).help);
}

TEST(RigOptions, EveryMistakeNamesItsOption) {
    const struct {
        const char* args;
        std::string option;
    } cases[] = {
        {"--cameras 2", "--out"},
        {"--out d --size 12x", "--size"},
        {"--out d --cameras 0", "--cameras"},
        {"--out d --frames ten", "--frames"},
        {"--out d --first 9995 --frames 10", "--frames"},
        {"--out d --lens tele", "--lens"},
        {"--out d --ext bmp", "--ext"},
        {"--out d --distortion 0.1,0.2", "--distortion"},
        {"--out d --distortion 0.5,0.4,0.2", "--distortion"},  // d <= 0
        {"--out d --distortion -0.4,0,0", "--distortion"},     // folds inside
        {"--out d --seed", "--seed"},
        {"--out d --wobble", "--wobble"},
    };
    for (const auto& c : cases) {
        try {
            RigOptions::parse(words(c.args));
            ADD_FAILURE() << "accepted " << c.args;
        } catch (const OptionError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.option + ": ", 0), 0u)
                << e.what() << " for " << c.args;
        }
    }
}

}  // namespace
