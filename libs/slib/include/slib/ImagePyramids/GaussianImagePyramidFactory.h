// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include "kiln/Box.h"
#include "kiln/Image.h"

namespace Korvane {
namespace SLIB {
namespace ImagePyramids {

/// The levels of an image pyramid, finest first. Level 0 has the base image's box; level k + 1
/// has half the size of level k (rounded up) and half its origin (rounded down), so pyramids
/// over parts of one image line up level by level when the parts start at multiples of
/// 2^levels.
using ImagePyramid = std::vector<Kiln::Image>;

/// Builds Gaussian and Laplacian pyramids of float images (1 to 4 channels) with the kernels of
/// the vision library, on the device that holds the base image.
///
/// Levels halve the size (level scale 0.5) while the smaller side of the next level stays at or
/// above the smallest level size, which is never below 1. Filtering is a Gaussian of the
/// Gaussian parameter (sigma, in pixels of the finer level) in both directions.
///
/// Spherical pyramids hold equirectangular images (longitude across, latitude from the south
/// pole at the bottom row to the north pole at the top row): at every level x wraps around
/// between the left and right edges, and filtering across a pole reads the rows on the other
/// side of the pole on the opposite meridian, so neither the longitude seam nor a pole shows a
/// seam or a spike. Plain pyramids repeat their edge pixels.
///
/// A factory is a value; its build calls may run on several threads at once.
class GaussianImagePyramidFactory {
public:
    GaussianImagePyramidFactory() = default;

    /// Only 0.5 (halving) is built; a value above 1 is taken as its reciprocal. Throws
    /// std::invalid_argument for any other scale.
    void setLevelScale(float scale);
    float levelScale() const { return m_levelScale; }
    /// Values below 1 are stored as 1.
    void setSmallestLevelSize(int size);
    int smallestLevelSize() const { return m_smallestLevelSize; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool enabled() const { return m_enabled; }
    /// Sigma in pixels of the finer level; throws std::invalid_argument unless positive.
    void setGaussian(float sigma);
    float gaussian() const { return m_gaussian; }
    void setSpherical(bool spherical) { m_spherical = spherical; }
    bool spherical() const { return m_spherical; }

    /// The boxes of every level of a pyramid over `base`, finest first.
    std::vector<Kiln::Box> levelBoxes(const Kiln::Box& base) const;

    /// The boxes of exactly `levels` levels over `base` (at least 1), whatever the smallest
    /// level size: pyramids over parts of an image take the level count of the whole.
    std::vector<Kiln::Box> levelBoxes(const Kiln::Box& base, int levels) const;

    /// Level 0 is `base` itself (shared pixels); the others are new images.
    ImagePyramid buildGaussian(const Kiln::Image& base) const;
    /// The same with exactly `levels` levels.
    ImagePyramid buildGaussian(const Kiln::Image& base, int levels) const;
    /// Level k is gaussian_k - expand(gaussian_k+1); the coarsest level is the coarsest
    /// Gaussian level. collapse() gives `base` back up to float rounding.
    ImagePyramid buildLaplacian(const Kiln::Image& base) const;
    /// Writes the image a Laplacian pyramid stands for into `output` (level 0's box and
    /// format). The pyramid's levels are used as scratch and hold the partial sums afterwards.
    void collapse(ImagePyramid& laplacian, Kiln::Image& output) const;

    /// coarse = Gaussian-filtered fine, halved. Coarse pixel i reads fine pixels 2i - 3 ..
    /// 2i + 4 counted from twice the coarse box's origin, so a coarse box over a window of a
    /// larger fine image (its origin half the window's, the window starting at an even pixel)
    /// gives the whole image's level there, reading the image beyond the window's edges; for
    /// a pyramid's own levels this is the usual halving.
    void reduce(const Kiln::Image& fine, Kiln::Image& coarse) const;
    /// output = baseFactor * base + expandFactor * expand(coarse); `base` may be `output`.
    void expand(const Kiln::Image& coarse,
                const Kiln::Image& base,
                Kiln::Image& output,
                float baseFactor,
                float expandFactor) const;

private:
    float m_levelScale = 0.5f;
    int m_smallestLevelSize = 8;
    bool m_enabled = false;
    float m_gaussian = 1.5f;
    bool m_spherical = false;
};

}  // namespace ImagePyramids
}  // namespace SLIB
}  // namespace Korvane
