// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/Projector.h"

namespace Kiln {
namespace ImageProjection {

/// The other side projected into a camera: the panorama (other type 2 or 3) seen through the
/// camera (a virtual rectilinear or fisheye view, or a rig camera), or an ideal image of the
/// camera back into its own lens. The source is the other side, the destination the camera.
class ProjectFrom : public Projector {
public:
    /// `otherType`: the projection type of the other side (0, 1, 2 or 3).
    explicit ProjectFrom(int otherType = 2) { m_records.otherType = otherType; }

    bool run(Image& destination, const Image& source, const Size& destinationSize) override;

    /// The camera, lens and parallax records and the other side's type; set them before run.
    ProjectionRecords& records() { return m_records; }
    const ProjectionRecords& records() const { return m_records; }

private:
    ProjectionRecords m_records;
};

}  // namespace ImageProjection
}  // namespace Kiln
