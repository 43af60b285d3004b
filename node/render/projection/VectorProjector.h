// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Image.h"
#include "render/projection/PositionImageCache.h"
#include "render/projection/ProjectionRecords.h"

namespace Kiln {
namespace ImageProjection {

/// A change of projection computed as a position image only (render/kernels/PositionImage.h),
/// so that warps, projections and rotations can be chained with vector operation B and the
/// source resampled once at the end (Kernels::resample).
///
/// run() writes the mapping's positions, in the source frame [0, sourceSize), for the pixels of
/// `positions` (2 float channels, lying inside the destination frame); the mapping itself is
/// computed once per process in the position-image cache and copied. Thread use and errors as
/// for Projector.
class VectorProjector {
public:
    virtual ~VectorProjector();

    /// False, writing nothing, when the functor is not valid (a frame size never set).
    virtual bool run(Image& positions, const Size& destinationSize) = 0;
    /// Vector operation A: `destination` = `source` converted by `mode` (one image may be
    /// both): ToPositions turns a displacement field into positions, ToDisplacements back.
    virtual void vectorOperationA(const Image& source, Image& destination, VectorMode mode);
    /// Vector operation B: every position p of `positions`, a point of this functor's source
    /// frame, becomes inner(p), where `inner` is a position image over that frame (another
    /// mapping's, or a converted vector image). Wraps around the seam when the source frame is
    /// a panorama.
    virtual void vectorOperationB(const Image& inner, Image& positions);

    /// True when both frame sizes are at least 1 x 1.
    bool isValid() const { return m_sourceSize.isSet() && m_destinationSize.isSet(); }
    void setSourceSize(const Size& size) { m_sourceSize = size; }
    const Size& sourceSize() const { return m_sourceSize; }
    const Size& destinationSize() const { return m_destinationSize; }
    /// The wrap flag, as Projector's.
    void setFlag(bool flag) { m_flag = flag; }
    bool flag() const { return m_flag; }
    const PositionImageCachePtr& cache() const { return m_cache; }

protected:
    VectorProjector();
    /// True when the source side is a panorama whose x wraps.
    virtual bool sourceIsPanorama() const = 0;
    /// The run of a camera projection (see Projector::project).
    bool writePositions(Image& positions,
                        const Size& destinationSize,
                        const ProjectionRecords& records,
                        bool inverse);

    Size m_sourceSize;
    Size m_destinationSize;
    PositionImageCachePtr m_cache;
    bool m_flag = false;
};

}  // namespace ImageProjection
}  // namespace Kiln
