// SPDX-License-Identifier: Apache-2.0
// Vector operations on position and vector images (PositionImage.h), two kernels of two
// images and one int scalar each, launched short.
//
// A, "convert": images source, destination (2f, 2f; the output; the same image runs it in
// place). Mode 0 copies; mode 1 turns displacements into positions, out(q) = q + in(q), q the
// pixel centre (the vector conversion every vector image goes through before resampling);
// mode 2 turns positions into displacements, out(q) = in(q) - q. kNoSample stays kNoSample.
//
// B, "compose": images inner, positions (2f, 2f; positions is read and written in place).
// Each position p becomes inner(p), the inner position image sampled bilinearly at p: a
// chain "destination -> intermediate -> source" in one image. p outside the inner image's box,
// or any tap of inner that carries weight and is kNoSample, gives kNoSample. The scalar is the
// wrap flag: 1 when inner covers a full panorama whose x wraps with the box's width.
#pragma once

#include "kiln/ParamName.h"

namespace Korvane {
namespace Research {
namespace Kernels {

constexpr const char* kVectorConvertId =
    "1ebcd516b4d0f216d0a34a88e684805104b2dfc91e15eb1173c6290daecb97bf";
constexpr const char* kVectorConvertParams = "o942a3f241d763538 3\n";
constexpr Kiln::Compute::ParamName kVectorConvertMode = 0x942a3f241d763538;  // int

constexpr const char* kVectorComposeId =
    "6a6f61ef3484bd225a600317e20f248db0b044cad0cd05b2279a638350fb1367";
constexpr const char* kVectorComposeParams = "o1e45bef539f35450 3\n";
constexpr Kiln::Compute::ParamName kVectorComposeWrap = 0x1e45bef539f35450;  // int

/// Registers both kernels' variants; later calls do nothing.
void registerVectorOperations();

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
