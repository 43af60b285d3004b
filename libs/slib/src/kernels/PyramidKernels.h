// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/ParamName.h"
#include "slib/ImagePyramids/PyramidFilters.h"

namespace Korvane {
namespace SLIB {
namespace Kernels {

// The two kernels of the image pyramids. Both work in each image's own pixel indices (x minus
// the box's x0), so a level's box may start anywhere. Level k + 1 halves level k: coarse pixel
// i covers fine pixels 2i and 2i + 1, so its centre lies at fine coordinate 2i + 1 (pixel
// centres at +0.5); an odd fine size gives ceil(size / 2) coarse pixels, the last reading past
// the edge through the border rule (slib/ImagePyramids/PyramidFilters.h).

/// Reduce: Gaussian blur and halve. Images: fine source, coarse destination. Scalars: the
/// Gaussian parameter (sigma in fine pixels, float), spherical (bool).
constexpr const char* kPyramidReduceId =
    "9a61f5f2fd5049590ca4a3897de68cb65d092f9e00b047b00a047a5e1bf65b1f";
constexpr const char* kPyramidReduceParams = "o3973af070404ffa7 1\no51c54f02a5dd1bf3 4\n";

/// Expand: Gaussian interpolation of a coarse level to the fine size, combined with a fine
/// image: out = baseFactor * base + expandFactor * expand(coarse). Images: coarse, base (fine;
/// may be the output itself), output (fine). Scalars: Gaussian parameter (float), spherical
/// (bool), baseFactor, expandFactor (float).
constexpr const char* kPyramidExpandId =
    "718b1077c9724544d9f27973d5467fc028917462793a051cb97c59c5fb030ab0";
constexpr const char* kPyramidExpandParams =
    "o3973af070404ffa7 1\no51c54f02a5dd1bf3 4\no7ce4715256504916 1\no0366443d1943631b 1\n";

constexpr Kiln::Compute::ParamName kPyramidGaussian = 0x3973af070404ffa7;      // float
constexpr Kiln::Compute::ParamName kPyramidSpherical = 0x51c54f02a5dd1bf3;     // bool
constexpr Kiln::Compute::ParamName kPyramidBaseFactor = 0x7ce4715256504916;    // float
constexpr Kiln::Compute::ParamName kPyramidExpandFactor = 0x0366443d1943631b;  // float

void registerPyramidReduce();
void registerPyramidExpand();

using ImagePyramids::ExpandedRow;
using ImagePyramids::ExpandTaps;
using ImagePyramids::FilterRows;
using ImagePyramids::ReduceRow;
using ImagePyramids::ReduceTaps;

}  // namespace Kernels
}  // namespace SLIB
}  // namespace Korvane
