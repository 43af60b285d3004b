// SPDX-License-Identifier: Apache-2.0
#include "render/projection/VectorProjector.h"

#include "kiln/Kernels.h"

namespace Kiln {
namespace ImageProjection {

VectorProjector::VectorProjector() : m_cache(PositionImageCache::instance()) {}

VectorProjector::~VectorProjector() = default;

void VectorProjector::vectorOperationA(const Image& source, Image& destination, VectorMode mode) {
    Korvane::Research::Kernels::convertVectors(source, destination, mode);
}

void VectorProjector::vectorOperationB(const Image& inner, Image& positions) {
    Korvane::Research::Kernels::composeVectors(inner, positions, m_flag || sourceIsPanorama());
}

bool VectorProjector::writePositions(Image& positions,
                                     const Size& destinationSize,
                                     const ProjectionRecords& records,
                                     bool inverse) {
    m_destinationSize = destinationSize;
    if (!isValid()) return false;
    const bool wrap = m_flag || sourceIsPanorama();
    const Image cached = m_cache->positions(
        projectionScalars(records, inverse, wrap, m_sourceSize, m_destinationSize),
        positions.device(),
        positions.box());
    Kernels::copyImage(cached, positions);
    return true;
}

}  // namespace ImageProjection
}  // namespace Kiln
