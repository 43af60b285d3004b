// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>

namespace Kiln {
namespace Pixel {

/// The type of one component of a pixel. Channels of a pixel are interleaved.
enum class ComponentType { Float, UnsignedInt, UnsignedByte };

/// Bytes per component: 4 for Float (IEEE single) and UnsignedInt (32 bits), 1 for UnsignedByte.
std::size_t DataSize(ComponentType type);

/// The signature token of an image with `channels` components of `type`, as kernel variant keys
/// write it: the count followed by "f", "ui" or "ub" ("3f", "1ui").
std::string SignatureToken(int channels, ComponentType type);

}  // namespace Pixel
}  // namespace Kiln
