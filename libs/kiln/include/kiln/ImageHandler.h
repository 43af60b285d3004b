// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>

#include "kiln/Kernel.h"

namespace Kiln {
namespace Compute {

/// The images of a short launch: `count` pointers, in the kernel's image order. The images must
/// outlive the launch.
class ImageHandler {
public:
    ImageHandler(std::size_t count, const Image* const* images)
        : m_images(images, images + count) {}
    const ImageList& images() const { return m_images; }

private:
    ImageList m_images;
};

}  // namespace Compute
}  // namespace Kiln
