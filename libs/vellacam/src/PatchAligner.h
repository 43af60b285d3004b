// SPDX-License-Identifier: Apache-2.0
// Sub-pixel alignment of one camera's patch with another's, for camera matching.
#pragma once

#include <vector>

#include <Eigen/Core>

namespace Korvane {
namespace Research {
namespace detail {

/// A float image of a camera, sampled at the library's image positions (bottom-left origin,
/// y up, pixel centres at +0.5). Rows are stored top row first, as OpenCV keeps them.
class SampledImage {
public:
    SampledImage() = default;
    SampledImage(int width, int height, std::vector<float> topFirst)
        : m_width(width), m_height(height), m_pixels(std::move(topFirst)) {}

    int width() const { return m_width; }
    int height() const { return m_height; }
    const float* data() const { return m_pixels.data(); }
    /// Bilinear sample at image position `p`; false when its 2 x 2 neighbourhood leaves the image.
    bool sample(const Eigen::Vector2d& p, double* value) const;

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<float> m_pixels;
};

/// The descriptor of a feature: the (2 radius + 1)^2 samples of `image` at pixel + axes * w for
/// w on the integer grid [-radius, radius]^2 (row by row, w.y rising), made zero-mean and of
/// unit length, so that the dot product of two descriptors is the normalised cross-correlation
/// of their patches. False, and `out` undefined, when a sample leaves the image or the patch is
/// flat (standard deviation below `minDeviation` levels).
bool describePatch(const SampledImage& image,
                   const Eigen::Vector2d& pixel,
                   const Eigen::Matrix2d& axes,
                   int radius,
                   double minDeviation,
                   float* out);

/// Aligns a square patch of `target` with the patch of `reference` centred on `referencePixel`
/// (2 radius + 1 samples a side, one pixel apart): target position q corresponds to reference
/// position referencePixel + w through q = centre + M w. Centre and local map M are found
/// together by inverse-compositional Lucas-Kanade on an affine warp, starting from `start` and
/// the predicted map `jacobian`, with each target patch brought to the template's mean and
/// deviation (the cameras' exposures differ). The map is free because the predicted one is
/// only as good as the lens model: near the rim of a wide fisheye a few percent of error in
/// its scale, over a patch, moves a translation-only fit by pixels or off the point.
struct PatchAlignment {
    Eigen::Vector2d position = Eigen::Vector2d::Zero();     ///< the aligned centre in `target`
    Eigen::Matrix2d mapping = Eigen::Matrix2d::Identity();  ///< the fitted local map M
    double correlation = 0.0;  ///< zero-mean normalised cross-correlation of the aligned patches
};

/// False when the reference patch is too flat or one-dimensional to fix a position (smallest
/// eigenvalue of its structure tensor per sample below `minGradient`^2), when a patch leaves its
/// image, when the centre moves more than `maxShift` pixels from `start`, or when M strays from
/// `jacobian` by more than a factor 0.7 to 1 / 0.7 in scale.
bool alignPatch(const SampledImage& reference,
                const Eigen::Vector2d& referencePixel,
                const SampledImage& target,
                const Eigen::Vector2d& start,
                const Eigen::Matrix2d& jacobian,
                int radius,
                double maxShift,
                double minGradient,
                PatchAlignment* result);

}  // namespace detail
}  // namespace Research
}  // namespace Korvane
