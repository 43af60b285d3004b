// SPDX-License-Identifier: Apache-2.0
#include "px/image/ImagePlane.h"

#include <algorithm>

#include "px/image/PlanePool.h"

namespace PX {
namespace Image {

ImagePlane::ImagePlane(const Box& box, bool packed, const ChannelSet& channels)
    : m_box(box),
      m_packed(packed),
      m_channels(channels),
      m_nComps(int(channels.size())),
      // The last plane sharing the buffer hands it to the pool for the next plane of its size.
      m_shared(new Shared, [](Shared* shared) {
          PlanePool::instance().give(std::move(shared->pixels));
          delete shared;
      }) {}

void ImagePlane::makeWritable() {
    std::lock_guard<std::mutex> lock(m_shared->lock);
    makeWritableLocked();
}

void ImagePlane::makeWritableLocked() {
    if (m_shared->allocated) return;
    bool reused;
    m_shared->pixels = PlanePool::instance().take(sizeInFloats(), &reused);
    m_shared->clearPending.store(reused, std::memory_order_release);
    m_shared->allocated = true;
}

bool ImagePlane::hasBuffer() const {
    std::lock_guard<std::mutex> lock(m_shared->lock);
    return m_shared->allocated;
}

void ImagePlane::settleClear(bool overwrite) const {
    Shared& shared = *m_shared;
    std::lock_guard<std::mutex> lock(shared.clearLock);
    if (!shared.clearPending.load(std::memory_order_relaxed)) return;
    if (!overwrite) std::fill(shared.pixels.begin(), shared.pixels.end(), 0.0f);
    shared.clearPending.store(false, std::memory_order_release);
}

float* ImagePlane::pixels() const {
    // Pointers go out only once the buffer is settled: a second thread waits for the clear.
    if (m_shared->clearPending.load(std::memory_order_acquire)) settleClear(false);
    return m_shared->pixels.empty() ? nullptr : m_shared->pixels.data();
}

float* ImagePlane::writable() { return pixels(); }

const float* ImagePlane::readable() const { return pixels(); }

float* ImagePlane::overwritable() {
    if (m_shared->clearPending.load(std::memory_order_acquire)) settleClear(true);
    return m_shared->pixels.empty() ? nullptr : m_shared->pixels.data();
}

}  // namespace Image
}  // namespace PX
