// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "base/RefCounter.h"
#include "kiln/Image.h"
#include "render/kernels/RenderKernels.h"

namespace Kiln {
namespace ImageProjection {

/// The position images of the process, kept per projection and box: a rig does not move, so
/// the position image of a camera for a given source frame, destination frame, lens, pose,
/// parallax and projection is computed once over the box asked for (a camera's footprint in
/// the panorama) and reused by every functor and frame that asks for it or for a part of it.
/// The key is every scalar of the projection kernel plus the device, so a change of any of
/// them is a new entry (the old one ages out): nothing needs to be invalidated by hand.
///
/// Memory is bounded: when the images held exceed the capacity, the least recently used are
/// dropped (a functor still holding one keeps it alive until it lets go). An image larger than
/// the whole capacity is computed and returned but not kept.
///
/// Images returned are shared: callers must not write them. Thread-safe; two threads missing
/// the same key at once both compute it and the first to finish is kept.
class PositionImageCache : public Korvane::Base::RefCounter {
public:
    static constexpr std::size_t kDefaultCapacity = std::size_t(512) << 20;

    /// The process-wide cache.
    static boost::intrusive_ptr<PositionImageCache> instance();

    PositionImageCache() = default;

    /// The position image of `scalars` over `box` of the destination frame [0, destWidth) x
    /// [0, destHeight) (the part of the box inside the frame; the whole frame when no part is),
    /// on `device`. A kept image of the same projection whose box holds that part is
    /// returned as it is (its box may be larger); on a miss the projection kernel computes the
    /// part alone. Kernel errors propagate and leave the cache as it was.
    Image positions(const Korvane::Research::Kernels::ProjectionScalars& scalars,
                    const Compute::DevicePtr& device,
                    Box box = Box());

    void setCapacity(std::size_t bytes);
    /// Raises the capacity to `bytes` where it is lower: a renderer makes room for the
    /// position images of one whole panorama (many cameras, a large panorama), which would
    /// otherwise push each other out on every frame.
    void reserve(std::size_t bytes);
    std::size_t capacity() const;
    /// Bytes of the images held.
    std::size_t bytes() const;
    std::size_t entries() const;
    std::size_t hits() const;
    std::size_t misses() const;
    void clear();

private:
    struct Entry {
        std::string key;
        Image image;
        std::size_t bytes;
    };
    using Entries = std::list<Entry>;
    /// The kept image of `key` whose box holds `box`, made the most recent; end() for none.
    Entries::iterator findLocked(const std::string& key, const Box& box);
    void trimLocked();

    mutable std::mutex m_mutex;
    Entries m_entries;  // most recently used first
    // Each projection's kept images: a camera's footprint and a whole frame, say.
    std::unordered_map<std::string, std::vector<Entries::iterator>> m_index;
    std::size_t m_capacity = kDefaultCapacity;
    std::size_t m_bytes = 0;
    std::size_t m_hits = 0;
    std::size_t m_misses = 0;
};

using PositionImageCachePtr = boost::intrusive_ptr<PositionImageCache>;

}  // namespace ImageProjection
}  // namespace Kiln
