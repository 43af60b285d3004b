// SPDX-License-Identifier: Apache-2.0
#pragma once
#include <cstddef>
#include <mutex>
#include <vector>

namespace PX {
namespace Image {

/// Pixel buffers of released planes, kept for the next plane of the same size.
///
/// A render hands out a fresh plane every time, and a fresh buffer of a 2048 x 1024 RGBA plane
/// is 32 MiB of new pages: the system faults and clears every one of them. A buffer comes back
/// here when the last plane sharing it goes (a plane held by a cache or a caller keeps its
/// buffer), and the next plane of the same size takes it as it is: the plane clears it before
/// anyone reads it, unless its writer declares it writes every pixel (ImagePlane). The pool
/// holds at most `capacity()` bytes; beyond that the oldest buffers are freed.
class PlanePool {
public:
    /// The process's pool (never destroyed, so planes released at exit still find it).
    static PlanePool& instance();

    /// A buffer of `floats` floats: a held one of that size when there is one, holding what its
    /// last plane left there (`*reused` true), else a fresh one, zero-filled.
    std::vector<float> take(std::size_t floats, bool* reused);
    /// Keeps `pixels` for a later take (or frees it, oldest first, beyond the capacity).
    void give(std::vector<float>&& pixels);

    void setCapacity(std::size_t bytes);
    std::size_t capacity() const;
    /// Bytes held now, and buffers handed out again since the start.
    std::size_t heldBytes() const;
    std::size_t reused() const;

private:
    void trimLocked();

    mutable std::mutex m_lock;
    std::vector<std::vector<float>> m_held;  // oldest first
    std::size_t m_heldBytes = 0;
    std::size_t m_capacity = std::size_t(128) << 20;  // four 2048 x 1024 RGBA planes
    std::size_t m_reused = 0;
};

}  // namespace Image
}  // namespace PX
