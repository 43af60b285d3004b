// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>

namespace PX {
namespace Image {

/// RGB of a colour given as hue in [0, 1) (wrapped outside), saturation and value in [0, 1].
std::array<float, 3> HSVtoRGB(float h, float s, float v);

}  // namespace Image
}  // namespace PX
