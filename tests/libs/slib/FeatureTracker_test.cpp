// SPDX-License-Identifier: Apache-2.0
// The vision library's feature tracker as the node's constraint tracking uses it (no
// detection of new features): sub-pixel accuracy, the acceptance test, lost points, and the
// refusals of a whole call.
#include "slib/FeatureTracking/FeatureTracker.h"

#include <cmath>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "TrackingTexture.h"

using namespace Korvane::SLIB;
using namespace Korvane::SLIB::FeatureTracking;

namespace {

using TrackingTests::texture;

/// The image of `f` sampled at pixel centres.
TrackingImage render(int w, int h, const std::function<double(double, double)>& f) {
    TrackingImage image(w, h);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) image.at(i, j) = float(f(i + 0.5, j + 0.5));
    return image;
}

std::vector<TrackedFeatureTrack> tracksAt(const Context& c,
                                          const std::vector<std::pair<double, double>>& points) {
    std::vector<TrackedFeatureTrack> tracks(points.size());
    for (size_t k = 0; k < points.size(); ++k)
        tracks[k].setKey(c, TrackedFeature(points[k].first, points[k].second));
    return tracks;
}

/// A tracker that only follows the tracks it is given.
struct QuietTracker : FeatureTracker {
    QuietTracker() {
        setMaxNewFeatures(0);
        setDetection(false);
    }
};

const Context kBefore(1, 1), kAfter(2, 1);

}  // namespace

TEST(FeatureTracker, AcceptsByScoreAndErrorNeverALostPoint) {
    SequentialTrackingStage s;
    s.setAcceptance(0.5);
    s.setErrorLimit(0.1);
    EXPECT_TRUE(s.accepts(TrackedFeature(1, 1, 0.5, 0.1)));
    EXPECT_FALSE(s.accepts(TrackedFeature(1, 1, 0.49, 0.0)));
    EXPECT_FALSE(s.accepts(TrackedFeature(1, 1, 1.0, 0.11)));
    EXPECT_FALSE(s.accepts(TrackedFeature(1, 1, 1.0, TrackedFeature::kLost)));
    s.setAcceptance(-1.0);  // threshold 1: every followed point, never a lost one
    EXPECT_FALSE(s.accepts(TrackedFeature(1, 1, 1.0, TrackedFeature::kLost)));
}

TEST(FeatureTracker, RecoversSubPixelAndLargeShifts) {
    // Shifts within a pixel and well beyond the patch (which the pyramid must bridge).
    for (const auto& [sx, sy] : std::vector<std::pair<double, double>>{
             {0.3, -0.7}, {0.05, 0.45}, {2.37, 1.61}, {-17.6, 9.3}, {41.25, -30.8}}) {
        const TrackingImage before = render(320, 240, texture);
        const TrackingImage after =
            render(320, 240, [&](double x, double y) { return texture(x - sx, y - sy); });
        std::vector<std::pair<double, double>> points;
        for (double y = 60; y <= 180; y += 30)
            for (double x = 70; x <= 250; x += 45.5) points.emplace_back(x + 0.25, y + 0.75);
        std::vector<TrackedFeatureTrack> tracks = tracksAt(kBefore, points);
        QuietTracker tracker;
        ASSERT_TRUE(tracker.track(kBefore, before, kAfter, after, tracks));
        ASSERT_EQ(tracks.size(), points.size()) << "no detection was asked for";
        for (size_t k = 0; k < points.size(); ++k) {
            const TrackedFeature* f = tracks[k].find(kAfter);
            ASSERT_NE(f, nullptr) << "shift " << sx << "," << sy << " point " << k;
            EXPECT_NEAR(f->x, points[k].first + sx, 0.05) << sx << "," << sy;
            EXPECT_NEAR(f->y, points[k].second + sy, 0.05) << sx << "," << sy;
            EXPECT_GT(f->score, 0.99);
            EXPECT_GE(f->error, 0.0);
        }
    }
}

TEST(FeatureTracker, LostPointsGetNoKeyAndStop) {
    // The content moves 30 pixels right; a point near the right edge leaves the image, and a
    // point whose neighbourhood is covered by a bright square is occluded. The others go on.
    const double shift = 30.0;
    const TrackingImage before = render(320, 240, texture);
    const TrackingImage after = render(320, 240, [&](double x, double y) {
        if (std::abs(x - 130.0) < 15 && std::abs(y - 120.0) < 15)
            return 1.0 + 0.2 * std::sin(0.9 * x) * std::cos(1.3 * y);  // the occluder
        return texture(x - shift, y);
    });
    std::vector<TrackedFeatureTrack> tracks =
        tracksAt(kBefore, {{300.0, 100.0}, {100.5, 120.5}, {60.0, 60.0}, {150.0, 200.0}});
    QuietTracker tracker;
    tracker.sequentialStage().setAcceptance(SequentialTrackingStage::acceptanceForThreshold(0.25));
    ASSERT_TRUE(tracker.track(kBefore, before, kAfter, after, tracks));
    EXPECT_EQ(tracks[0].find(kAfter), nullptr) << "left the image";
    EXPECT_EQ(tracks[1].find(kAfter), nullptr) << "occluded";
    for (int k : {2, 3}) {
        const TrackedFeature* f = tracks[size_t(k)].find(kAfter);
        ASSERT_NE(f, nullptr) << k;
        EXPECT_NEAR(f->x, tracks[size_t(k)].find(kBefore)->x + shift, 0.05);
    }

    // The next step follows only the tracks with a key at the previous context.
    const Context next(3, 1);
    ASSERT_TRUE(tracker.track(kAfter, after, next, after, tracks));
    EXPECT_EQ(tracks[0].size(), 1);
    EXPECT_EQ(tracks[1].size(), 1);
    EXPECT_NE(tracks[2].find(next), nullptr);
}

TEST(FeatureTracker, RefusesMismatchedImages) {
    const TrackingImage a = render(64, 48, texture);
    const TrackingImage b = render(48, 64, texture);
    std::vector<TrackedFeatureTrack> tracks = tracksAt(kBefore, {{30.0, 20.0}});
    QuietTracker tracker;
    EXPECT_FALSE(tracker.track(kBefore, a, kAfter, b, tracks));
    EXPECT_FALSE(tracker.track(kBefore, a, kAfter, TrackingImage(), tracks));
    EXPECT_FALSE(tracker.track(kBefore, a, kBefore, a, tracks));
    tracker.setImageFormat(ImageFormat(80, 48));
    EXPECT_FALSE(tracker.track(kBefore, a, kAfter, a, tracks));
    tracker.setImageFormat(ImageFormat(64, 48));
    tracker.setPatchSize(2);
    EXPECT_FALSE(tracker.track(kBefore, a, kAfter, a, tracks));
    EXPECT_EQ(tracks[0].size(), 1);
    tracker.setPatchSize(9);
    EXPECT_TRUE(tracker.track(kBefore, a, kAfter, a, tracks));
    EXPECT_EQ(tracks[0].size(), 2);
    EXPECT_GT(tracker.cachedPyramids(), 0);
    tracker.releaseCache();
    EXPECT_EQ(tracker.cachedPyramids(), 0);
}
