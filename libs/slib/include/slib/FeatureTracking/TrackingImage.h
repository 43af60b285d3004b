// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <vector>

namespace Korvane {
namespace SLIB {
namespace FeatureTracking {

/// One channel of intensity (any linear or display encoding, the same for every image of a
/// shot). Rows run from the bottom up: pixel (i, j) is pixels[j * width + i] and has its centre
/// at (i + 0.5, j + 0.5), so tracked positions are in the same pixels as the rest of the library.
struct TrackingImage {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;

    TrackingImage() = default;
    TrackingImage(int w, int h) : width(w), height(h), pixels(size_t(w) * size_t(h), 0.0f) {}

    bool empty() const {
        return width <= 0 || height <= 0 || pixels.size() != size_t(width) * size_t(height);
    }
    float& at(int i, int j) { return pixels[size_t(j) * size_t(width) + size_t(i)]; }
    float at(int i, int j) const { return pixels[size_t(j) * size_t(width) + size_t(i)]; }
};

}  // namespace FeatureTracking
}  // namespace SLIB
}  // namespace Korvane
