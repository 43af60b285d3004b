// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/Projector.h"

namespace Kiln {
namespace ImageProjection {

/// A camera image projected into the other side: the panorama (other type 2 or 3) or an
/// ideal, distortion-free image of the camera through a lens of type 0 or 1. The source is
/// the camera image (frame: the camera format), the destination the other side.
class ProjectTo : public Projector {
public:
    /// `otherType`: the projection type of the other side (0, 1, 2 or 3).
    explicit ProjectTo(int otherType = 2) { m_records.otherType = otherType; }

    bool run(Image& destination, const Image& source, const Size& destinationSize) override;

    /// The camera, lens and parallax records and the other side's type; set them before run.
    ProjectionRecords& records() { return m_records; }
    const ProjectionRecords& records() const { return m_records; }

private:
    ProjectionRecords m_records;
};

}  // namespace ImageProjection
}  // namespace Kiln
