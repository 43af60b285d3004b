// SPDX-License-Identifier: Apache-2.0
#include "px/image/PlanePool.h"

#include <algorithm>

namespace PX {
namespace Image {

PlanePool& PlanePool::instance() {
    static PlanePool* pool = new PlanePool;
    return *pool;
}

std::vector<float> PlanePool::take(std::size_t floats, bool* reused) {
    std::vector<float> pixels;
    *reused = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        // The newest of that size: its pages are the likeliest still cached.
        for (auto it = m_held.rbegin(); it != m_held.rend(); ++it)
            if (it->size() == floats) {
                pixels.swap(*it);
                m_held.erase(std::next(it).base());
                m_heldBytes -= floats * sizeof(float);
                ++m_reused;
                *reused = true;
                break;
            }
    }
    if (!*reused) pixels.assign(floats, 0.0f);
    return pixels;
}

void PlanePool::give(std::vector<float>&& pixels) {
    if (pixels.empty()) return;
    std::lock_guard<std::mutex> lock(m_lock);
    if (pixels.size() * sizeof(float) > m_capacity) return;
    m_heldBytes += pixels.size() * sizeof(float);
    m_held.push_back(std::move(pixels));
    trimLocked();
}

void PlanePool::trimLocked() {
    std::size_t drop = 0;
    while (m_heldBytes > m_capacity && drop < m_held.size())
        m_heldBytes -= m_held[drop++].size() * sizeof(float);
    m_held.erase(m_held.begin(), m_held.begin() + std::ptrdiff_t(drop));
}

void PlanePool::setCapacity(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_capacity = bytes;
    trimLocked();
}

std::size_t PlanePool::capacity() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_capacity;
}

std::size_t PlanePool::heldBytes() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_heldBytes;
}

std::size_t PlanePool::reused() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reused;
}

}  // namespace Image
}  // namespace PX
