// SPDX-License-Identifier: Apache-2.0
#include "RigOptions.h"

#include <gtest/gtest.h>

#include "../../TestSupport.h"

#include "MakeRigTest.h"

using namespace Korvane::MakeRig;
using MakeRigTest::words;

namespace {

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
        {"--out d --rotation-error -1", "--rotation-error"},
        {"--out d --vignetting 1.5", "--vignetting"},
        {"--out d --noise x", "--noise"},
        {"--out d --circle 80", "--circle"},
        {"--out d --lens rectilinear --circle 190", "--circle"},
    };
    for (const auto& c : cases) {
        const std::string message =
            TestSupport::thrown<OptionError>([&] { RigOptions::parse(words(c.args)); });
        EXPECT_EQ(message.rfind(c.option + ": ", 0), 0u) << message << " for " << c.args;
    }
    EXPECT_TRUE(RigOptions::parse({"--help"}).help);
    EXPECT_EQ(RigOptions::parse(words("--out d --distortion 0,-0.01,0")).distortion,
              Eigen::Vector3d(0.0, -0.01, 0.0));
}

}  // namespace
