// SPDX-License-Identifier: Apache-2.0
#include "render/projection/VectorProjectTo.h"

namespace Kiln {
namespace ImageProjection {

bool VectorProjectTo::run(Image& positions, const Size& destinationSize) {
    return writePositions(positions, destinationSize, m_records, false);
}

}  // namespace ImageProjection
}  // namespace Kiln
