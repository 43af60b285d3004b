// SPDX-License-Identifier: Apache-2.0
#include "kiln/Pixel.h"

namespace Kiln {
namespace Pixel {

std::size_t DataSize(ComponentType type) { return type == ComponentType::UnsignedByte ? 1 : 4; }

std::string SignatureToken(int channels, ComponentType type) {
    static const char* const kSuffix[] = {"f", "ui", "ub"};
    return std::to_string(channels) + kSuffix[static_cast<int>(type)];
}

}  // namespace Pixel
}  // namespace Kiln
