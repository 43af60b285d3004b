// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Image.h"
#include "render/projection/ProjectionRecords.h"

namespace Kiln {
namespace ImageProjection {

/// A panorama turned by a rotation and resampled in one kernel (render/kernels/RotateLatlong.h):
/// the destination's direction d shows the source's direction R(q) d. To show a panorama
/// through a view rotation q, run with inverse(q). Both images are whole panoramas (their
/// boxes are their frames); x wraps around the seam, the poles read the nearest row.
class QuaternionRotate {
public:
    explicit QuaternionRotate(Filter filter = Filter::Bilinear) : m_filter(filter) {}
    virtual ~QuaternionRotate();

    /// Sets the frame sizes from the images and runs the rotation kernel with the filter. A
    /// filter outside the four launches nothing. Throws KernelError before writing anything
    /// when the images' channel counts differ or are not float.
    void run(Image& destination, const Image& source, const Quaternion& rotation);

    void setFilter(Filter filter) { m_filter = filter; }
    Filter filter() const { return m_filter; }
    const Size& sourceSize() const { return m_sourceSize; }
    const Size& destinationSize() const { return m_destinationSize; }

private:
    Filter m_filter;
    Size m_sourceSize;
    Size m_destinationSize;
};

}  // namespace ImageProjection
}  // namespace Kiln
