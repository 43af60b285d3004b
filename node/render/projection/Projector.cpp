// SPDX-License-Identifier: Apache-2.0
#include "render/projection/Projector.h"

namespace Kiln {
namespace ImageProjection {

Projector::Projector() : m_cache(PositionImageCache::instance()) {}

Projector::~Projector() = default;

bool Projector::isValid() const {
    return m_source != nullptr && m_destination != nullptr && m_sourceSize.isSet() &&
           m_destinationSize.isSet();
}

bool Projector::project(Image& destination,
                        const Image& source,
                        const Size& destinationSize,
                        const ProjectionRecords& records,
                        bool inverse) {
    m_destination = &destination;
    m_source = &source;
    m_destinationSize = destinationSize;
    if (!isValid()) return false;
    const bool wrap = m_flag || isLatlong(inverse ? records.otherType : records.camera.projection);
    const Image positions = m_cache->positions(
        projectionScalars(records, inverse, wrap, m_sourceSize, m_destinationSize),
        destination.device(),
        destination.box());
    Korvane::Research::Kernels::resample(
        m_filter, source, positions, destination, m_sourceSize.width, m_sourceSize.height, wrap);
    return true;
}

}  // namespace ImageProjection
}  // namespace Kiln
