// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/VectorProjector.h"

namespace Kiln {
namespace ImageProjection {

/// The positions of ProjectTo: for each pixel of the other side, the point of the camera image
/// it shows.
class VectorProjectTo : public VectorProjector {
public:
    explicit VectorProjectTo(int otherType = 2) { m_records.otherType = otherType; }

    bool run(Image& positions, const Size& destinationSize) override;

    ProjectionRecords& records() { return m_records; }
    const ProjectionRecords& records() const { return m_records; }

protected:
    bool sourceIsPanorama() const override { return isLatlong(m_records.camera.projection); }

private:
    ProjectionRecords m_records;
};

}  // namespace ImageProjection
}  // namespace Kiln
