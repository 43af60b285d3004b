// SPDX-License-Identifier: Apache-2.0
#include "render/projection/ProjectFrom.h"

namespace Kiln {
namespace ImageProjection {

bool ProjectFrom::run(Image& destination, const Image& source, const Size& destinationSize) {
    return project(destination, source, destinationSize, m_records, true);
}

}  // namespace ImageProjection
}  // namespace Kiln
