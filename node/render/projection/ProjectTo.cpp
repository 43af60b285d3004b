// SPDX-License-Identifier: Apache-2.0
#include "render/projection/ProjectTo.h"

namespace Kiln {
namespace ImageProjection {

bool ProjectTo::run(Image& destination, const Image& source, const Size& destinationSize) {
    return project(destination, source, destinationSize, m_records, false);
}

}  // namespace ImageProjection
}  // namespace Kiln
