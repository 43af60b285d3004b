// SPDX-License-Identifier: Apache-2.0
// Position images and vector images, shared by the rendering kernels.
//
// A position image is a two-channel float image over a destination: pixel (x, y) holds the
// point (sx, sy) of the source to show there, in the source's absolute pixel coordinates
// (pixel (i, j) covers [i, i + 1) x [j + 1) so its centre is (i + 0.5, j + 0.5); rows go up,
// as everywhere in the framework and the rig library). A destination pixel that shows nothing
// (the source has no image there: behind a lens, outside its frame, a disabled camera) holds
// kNoSample in both channels. kNoSample is finite and so far outside any frame that adding a
// pixel offset or a displacement keeps it outside, so conversions and compositions carry it
// through without a test, and an image holding it never turns into NaN.
//
// A vector image is a position image in displacement form: pixel q holds D(q) and shows the
// source at q + D(q). Vector operation A converts between the two forms; resampling kernels
// read positions only.
#pragma once

#include <cmath>

namespace Korvane {
namespace Research {
namespace Kernels {

constexpr float kNoSample = -1.0e30f;

/// False for kNoSample and anything derived from it by adding pixel-sized values.
inline bool isSample(float coordinate) { return coordinate > -1.0e29f; }

/// The largest integer not above `v`, for |v| well inside the int range (callers check).
inline int floorToInt(float v) {
    const int i = int(v);
    return i - int(v < float(i));
}

inline int floorToInt(double v) {
    const int i = int(v);
    return i - int(v < double(i));
}

/// `i` reduced into [0, period).
inline int wrapIndex(int i, int period) {
    const int r = i % period;
    return r < 0 ? r + period : r;
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
