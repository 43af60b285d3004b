// SPDX-License-Identifier: Apache-2.0
#include "px/image/ImagePlane.h"

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
    m_shared->pixels = PlanePool::instance().take(sizeInFloats());
    m_shared->allocated = true;
}

bool ImagePlane::hasBuffer() const {
    std::lock_guard<std::mutex> lock(m_shared->lock);
    return m_shared->allocated;
}

float* ImagePlane::writable() {
    return m_shared->pixels.empty() ? nullptr : m_shared->pixels.data();
}

const float* ImagePlane::readable() const {
    return m_shared->pixels.empty() ? nullptr : m_shared->pixels.data();
}

}  // namespace Image
}  // namespace PX
