// SPDX-License-Identifier: Apache-2.0
#include "px/image/ImagePlane.h"

namespace PX {
namespace Image {

ImagePlane::ImagePlane(const Box& box, bool packed, const ChannelSet& channels)
    : m_box(box),
      m_packed(packed),
      m_channels(channels),
      m_nComps(int(channels.size())),
      m_shared(std::make_shared<Shared>()) {}

void ImagePlane::makeWritable() {
    std::lock_guard<std::mutex> lock(m_shared->lock);
    makeWritableLocked();
}

void ImagePlane::makeWritableLocked() {
    if (m_shared->allocated) return;
    m_shared->pixels.assign(sizeInFloats(), 0.0f);
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
