// SPDX-License-Identifier: Apache-2.0
#include "render/projection/VectorProjectFrom.h"

namespace Kiln {
namespace ImageProjection {

bool VectorProjectFrom::run(Image& positions, const Size& destinationSize) {
    return writePositions(positions, destinationSize, m_records, true);
}

}  // namespace ImageProjection
}  // namespace Kiln
