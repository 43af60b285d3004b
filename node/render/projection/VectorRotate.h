// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "render/projection/VectorProjector.h"

namespace Kiln {
namespace ImageProjection {

/// The positions of a panorama turned by a rotation: the destination's direction d shows the
/// source panorama's direction R(q) d, as QuaternionRotate. Source and destination are
/// panoramas (their frames set by setSourceSize and run); x wraps in both.
class VectorRotate : public VectorProjector {
public:
    explicit VectorRotate(const Quaternion& rotation = {}) : m_rotation(rotation) {}

    bool run(Image& positions, const Size& destinationSize) override;

    void setRotation(const Quaternion& rotation) { m_rotation = rotation; }
    const Quaternion& rotation() const { return m_rotation; }

protected:
    bool sourceIsPanorama() const override { return true; }

private:
    Quaternion m_rotation;
};

}  // namespace ImageProjection
}  // namespace Kiln
