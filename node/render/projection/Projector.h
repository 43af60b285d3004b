// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Image.h"
#include "render/projection/PositionImageCache.h"
#include "render/projection/ProjectionRecords.h"

namespace Kiln {
namespace ImageProjection {

/// A change of projection of one image into another: run() fetches the position image of
/// the destination from the process's position-image cache (computing it once) and
/// resamples the source through it with the functor's filter.
///
/// Frames: the source frame is [0, sourceSize) in the source's absolute pixels and the
/// destination frame [0, destinationSize); the images may hold any part of their frames (a
/// plane's rectangle, a stripe). Destination pixels whose source point lies outside the source
/// frame (or has no image, e.g. behind a lens) are written as zeros in every channel, alpha
/// included, so blending never pulls black in from outside a camera.
///
/// A functor is used by one render call at a time. Kernel failures (no variant for the
/// images, a wrong scalar kind) throw the framework's KernelError before any pixel of the
/// destination is written.
class Projector {
public:
    virtual ~Projector();

    /// Projects `source` into `destination`, whose frame is `destinationSize`. Returns false,
    /// launching nothing, when the functor is not valid afterwards (see isValid).
    virtual bool run(Image& destination, const Image& source, const Size& destinationSize) = 0;
    /// True when both images are set and both frame sizes are at least 1 x 1.
    virtual bool isValid() const;

    /// The source frame; -1 x -1 (never set) makes the functor invalid.
    void setSourceSize(const Size& size) { m_sourceSize = size; }
    const Size& sourceSize() const { return m_sourceSize; }
    const Size& destinationSize() const { return m_destinationSize; }
    /// Bilinear until set. A value outside the four filters makes run() resample nothing.
    void setFilter(Filter filter) { m_filter = filter; }
    Filter filter() const { return m_filter; }
    /// The wrap flag: the source is a full panorama whose x wraps around the seam. Latlong
    /// sources wrap whatever the flag says.
    void setFlag(bool flag) { m_flag = flag; }
    bool flag() const { return m_flag; }
    const PositionImageCachePtr& cache() const { return m_cache; }

protected:
    Projector();
    /// The run of a camera projection: binds the images and the destination frame, and when
    /// valid, resamples the source through the cached position image of `records` (the camera
    /// is the destination when `inverse`). The source wraps when its side is latlong.
    bool project(Image& destination,
                 const Image& source,
                 const Size& destinationSize,
                 const ProjectionRecords& records,
                 bool inverse);

    const Image* m_source = nullptr;
    Image* m_destination = nullptr;
    Size m_sourceSize;
    Size m_destinationSize;
    Filter m_filter = Filter::Bilinear;
    PositionImageCachePtr m_cache;
    bool m_flag = false;
};

}  // namespace ImageProjection
}  // namespace Kiln
