// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <limits>

#include "slib/FeatureTracking/TrackedFeature.h"

namespace Korvane {
namespace SLIB {
namespace FeatureTracking {

/// The stage of the tracker that follows features from one image to the next of a sequence:
/// coarse-to-fine over an image pyramid, a square patch around each feature is aligned with the
/// next image by Gauss-Newton steps on its translation (inverse compositional Lucas-Kanade). The
/// stage holds the limits of that search and the test that decides whether a followed feature
/// is kept:
///
/// - `window`: the farthest a feature may move per pyramid level, in pixels of the coarsest
///   level used (a feature that moves farther is lost rather than jumping);
/// - `maxLevels`: the most pyramid levels (level 0 the image, each next one half as large); fewer
///   are used where the coarsest level would no longer hold a patch across;
/// - `maxFeatures`: the most features followed in one call; the ones beyond are lost;
/// - `errorLimit`: the largest error a kept feature may have (no limit by default);
/// - `acceptance`: the smallest score a kept feature may have.
class SequentialTrackingStage {
public:
    static constexpr int kDefaultWindow = 14;
    static constexpr int kDefaultMaxLevels = 8;
    static constexpr int kDefaultMaxFeatures = 10000;
    static constexpr double kDefaultErrorLimit = std::numeric_limits<double>::max();
    static constexpr double kDefaultAcceptance = 0.55;

    int window() const { return m_window; }
    void setWindow(int pixels) { m_window = pixels; }
    int maxLevels() const { return m_maxLevels; }
    void setMaxLevels(int levels) { m_maxLevels = levels; }
    int maxFeatures() const { return m_maxFeatures; }
    void setMaxFeatures(int count) { m_maxFeatures = count; }
    double errorLimit() const { return m_errorLimit; }
    void setErrorLimit(double limit) { m_errorLimit = limit; }
    double acceptance() const { return m_acceptance; }
    void setAcceptance(double score) { m_acceptance = score; }

    /// The acceptance value for a user's error threshold t in 0..1: 1 - 2 t (0 keeps only
    /// identical patches, 0.5 any positively correlated one, 1 everything).
    static double acceptanceForThreshold(double threshold) { return 1.0 - 2.0 * threshold; }

    /// A followed feature is kept when it is not lost, its error is at most the limit and its
    /// score at least the acceptance value.
    bool accepts(const TrackedFeature& feature) const {
        return !feature.lost() && feature.error <= m_errorLimit && feature.score >= m_acceptance;
    }

private:
    int m_window = kDefaultWindow;
    int m_maxLevels = kDefaultMaxLevels;
    int m_maxFeatures = kDefaultMaxFeatures;
    double m_errorLimit = kDefaultErrorLimit;
    double m_acceptance = kDefaultAcceptance;
};

}  // namespace FeatureTracking
}  // namespace SLIB
}  // namespace Korvane
