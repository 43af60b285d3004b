// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/VectorProjector.h"

namespace Kiln {
namespace ImageProjection {

/// The positions of ProjectFrom: for each pixel of the camera, the point of the other side it
/// shows.
class VectorProjectFrom : public VectorProjector {
public:
    explicit VectorProjectFrom(int otherType = 2) { m_records.otherType = otherType; }

    bool run(Image& positions, const Size& destinationSize) override;

    ProjectionRecords& records() { return m_records; }
    const ProjectionRecords& records() const { return m_records; }

protected:
    bool sourceIsPanorama() const override { return isLatlong(m_records.otherType); }

private:
    ProjectionRecords m_records;
};

}  // namespace ImageProjection
}  // namespace Kiln
