// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/Projector.h"
#include "render/projection/VectorProjector.h"

namespace Kiln {
namespace ImageProjection {

/// What ProjectTo and ProjectFrom (Base Projector) and their position-image twins (Base
/// VectorProjector) share: the camera, lens and parallax records and the other side's type,
/// set before run. `kInverse`: the camera is the destination.
template <class Base, bool kInverse>
class CameraProjector : public Base {
public:
    /// `otherType`: the projection type of the other side (0, 1, 2 or 3).
    explicit CameraProjector(int otherType = 2) { m_records.otherType = otherType; }

    ProjectionRecords& records() { return m_records; }
    const ProjectionRecords& records() const { return m_records; }

protected:
    /// The source's side is a panorama: the other side when the camera is the destination.
    bool sourceSideIsPanorama() const {
        return isLatlong(kInverse ? m_records.otherType : m_records.camera.projection);
    }

    ProjectionRecords m_records;
};

}  // namespace ImageProjection
}  // namespace Kiln
