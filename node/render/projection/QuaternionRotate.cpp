// SPDX-License-Identifier: Apache-2.0
#include "render/projection/QuaternionRotate.h"

namespace Kiln {
namespace ImageProjection {

QuaternionRotate::~QuaternionRotate() = default;

void QuaternionRotate::run(Image& destination, const Image& source, const Quaternion& rotation) {
    m_sourceSize = {source.box().width(), source.box().height()};
    m_destinationSize = {destination.box().width(), destination.box().height()};
    Korvane::Research::Kernels::rotateLatlong(source, destination, rotation, m_filter);
}

}  // namespace ImageProjection
}  // namespace Kiln
