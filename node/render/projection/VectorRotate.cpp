// SPDX-License-Identifier: Apache-2.0
#include "render/projection/VectorRotate.h"

#include <Eigen/Geometry>

#include "external/RigLibrary.h"

namespace Kiln {
namespace ImageProjection {

bool VectorRotate::run(Image& positions, const Size& destinationSize) {
    // A latlong "camera" whose camera-to-rig rotation is R(q)^T: the projection kernel shows,
    // at rig direction d, the camera's direction R^T d = R(q) d.
    const Quaternion& q = m_rotation;
    Eigen::Quaterniond rotation(q.w, q.x, q.y, q.z);
    if (!(rotation.norm() > 0.0)) rotation = Eigen::Quaterniond::Identity();
    Korvane::Research::CameraDefinition turned;
    turned.setCameraToWorldRotation(rotation.normalized().toRotationMatrix().transpose());
    ProjectionRecords records;
    records.camera.projection = 2;
    for (int i = 0; i < 3; ++i) records.camera.rotation[size_t(i)] = float(turned.getRotation()[i]);
    records.otherType = 2;
    return writePositions(positions, destinationSize, records, false);
}

}  // namespace ImageProjection
}  // namespace Kiln
