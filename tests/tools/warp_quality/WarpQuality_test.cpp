// SPDX-License-Identifier: Apache-2.0
#include "WarpQuality.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

using namespace Korvane::Research;

namespace {

std::string writeFile(const std::string& name, const std::string& text) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream(path) << text;
    return path;
}

TEST(WarpQuality, TruthPointsBecomeMatchesOfTwoOrMoreCameras) {
    const std::string path = writeFile("warp_quality_points.json",
                                       R"({"frame": 1, "points": [
{"id":0,"world":[1,0,2],"observations":[{"camera":1,"image":[10.5,20.25],"depth":2},
                                        {"camera":3,"image":[30,40],"depth":2.1}]},
{"id":1,"world":[0,1,2],"observations":[{"camera":2,"image":[5,6],"depth":2}]}
]})");
    const std::vector<FeatureTrack> matches = readTruthMatches(path);
    ASSERT_EQ(matches.size(), 1u);  // a point one camera sees is no match
    ASSERT_EQ(matches[0].getFeatures().size(), 2u);
    EXPECT_EQ(matches[0].getFeatures()[0].first, 0);  // cameras count from 0 here
    EXPECT_EQ(matches[0].getFeatures()[1].first, 2);
    EXPECT_EQ(matches[0].getFeatures()[0].second.getPosition(), Eigen::Vector2d(10.5, 20.25));
    EXPECT_EQ(matches[0].getPoint().getPosition(), Eigen::Vector3d(1, 0, 2));  // the true point

    for (const std::string& bad : {std::string("{\"points\": [{\"observations\": 3}]}"),
                                   std::string("{\"points\": ["),
                                   std::string("[]")}) {
        const std::string broken = writeFile("warp_quality_broken.json", bad);
        try {
            readTruthMatches(broken);
            ADD_FAILURE() << "read " << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(broken), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(readTruthMatches("/nonexistent/points.0001.json"), std::runtime_error);
    EXPECT_EQ(truthPointsPath("footage/truth", 6), "footage/truth/points.0006.json");
}

TEST(WarpQuality, FiguresAreTheMedianAndNinetiethPercentile) {
    std::vector<double> values;
    for (int i = 10; i >= 0; --i) values.push_back(i);  // 0 .. 10, unsorted
    const MisalignmentFigures f = MisalignmentFigures::of(values);
    EXPECT_EQ(f.points, 11u);
    EXPECT_EQ(f.median, 5.0);
    EXPECT_EQ(f.p90, 9.0);
    EXPECT_EQ(MisalignmentFigures::of({}).points, 0u);
}

}  // namespace
