// SPDX-License-Identifier: Apache-2.0
// The tracker's image pyramids and its patch alignment.
#pragma once

#include <vector>

#include "slib/FeatureTracking/TrackingImage.h"

namespace Korvane {
namespace SLIB {
namespace FeatureTracking {
namespace detail {

/// Level 0 is the image; level l + 1 averages the 2 x 2 blocks of level l (an odd last row or
/// column is dropped). A position p of level l is p / 2 at level l + 1, exactly, because pixel
/// centres lie at +0.5.
class Pyramid {
public:
    Pyramid(const TrackingImage& image, int levels);
    int levels() const { return int(m_levels.size()); }
    const TrackingImage& level(int l) const { return m_levels[size_t(l)]; }

    /// The number of levels (at least 1, at most `maxLevels`) for which the coarsest level of
    /// a width x height image still holds a patch of side `patch` across both ways.
    static int levelsFor(int width, int height, int patch, int maxLevels);

private:
    std::vector<TrackingImage> m_levels;
};

/// Bilinear sample of `image` at position (x, y) (pixel centres at +0.5). Strict: false when the
/// 2 x 2 neighbourhood leaves the image; clamped: the border pixels extend outward.
bool sampleStrict(const TrackingImage& image, double x, double y, float* value);
float sampleClamped(const TrackingImage& image, double x, double y);

/// Where a patch went: the position in the current image, the normalised cross-correlation of
/// the two patches and the root mean square of their difference; `error` is -1 when the patch
/// could not be followed (it left the image, it is flat, the search diverged or moved farther
/// than the window allows).
struct PatchResult {
    double x = 0.0;
    double y = 0.0;
    double score = 0.0;
    double error = -1.0;
};

/// Follows the patch of side `patch` centred on (x, y) of `previous` into `current`, coarse to
/// fine over the levels both pyramids share (again from fewer levels when that fails).
/// `window` bounds the displacement per level in pixels of the coarsest level searched. Both
/// pyramids must come from images of the same size.
PatchResult followPatch(
    const Pyramid& previous, const Pyramid& current, double x, double y, int patch, int window);

}  // namespace detail
}  // namespace FeatureTracking
}  // namespace SLIB
}  // namespace Korvane
