// SPDX-License-Identifier: Apache-2.0
#include "render/projection/PositionImageCache.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace Kiln {
namespace ImageProjection {
namespace {

template <typename T>
void append(std::string& key, const T& value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    key.append(bytes, sizeof(T));
}

template <typename T, std::size_t N>
void append(std::string& key, const std::array<T, N>& values) {
    for (const T& v : values) append(key, v);
}

// Field by field: a struct's padding bytes would make equal scalars differ.
std::string keyOf(const Korvane::Research::Kernels::ProjectionScalars& s,
                  const Compute::Device* device) {
    std::string key;
    key.reserve(160);
    append(key, device);
    append(key, s.sourceWidth);
    append(key, s.sourceHeight);
    append(key, s.destWidth);
    append(key, s.destHeight);
    append(key, s.inverse);
    append(key, s.wrap);
    append(key, s.focal);
    append(key, s.sensorWidth);
    append(key, s.aspect);
    append(key, s.shift);
    append(key, s.distortion);
    append(key, s.undistort);
    append(key, s.maxIdealRadius);
    append(key, s.position);
    append(key, s.rotation);
    append(key, s.otherFocal);
    append(key, s.origin);
    append(key, s.depth);
    append(key, s.enabled);
    append(key, s.otherType);
    append(key, s.cameraType);
    append(key, s.imageCircle);
    return key;
}

}  // namespace

boost::intrusive_ptr<PositionImageCache> PositionImageCache::instance() {
    static const boost::intrusive_ptr<PositionImageCache> cache(new PositionImageCache);
    return cache;
}

Image PositionImageCache::positions(const Korvane::Research::Kernels::ProjectionScalars& scalars,
                                    const Compute::DevicePtr& device,
                                    Box box) {
    const Box frame{0, 0, int(scalars.destWidth), int(scalars.destHeight)};
    // A box wholly outside the frame gets the frame's positions, as every request once did.
    box = box.intersect(frame);
    if (box.empty()) box = frame;
    const std::string key = keyOf(scalars, device.get());
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = findLocked(key, box);
        if (found != m_entries.end()) {
            ++m_hits;
            return found->image;
        }
        ++m_misses;
    }
    Info info;
    info.box = box;
    info.channels = 2;
    Image image(info, device);
    Korvane::Research::Kernels::projectPositions(image, scalars);

    const std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = findLocked(key, box);
    if (found != m_entries.end()) return found->image;
    const std::size_t bytes = std::size_t(image.rowBytes()) * std::size_t(info.box.height());
    if (bytes > m_capacity) return image;
    m_entries.push_front(Entry{key, image, bytes});
    m_index[key].push_back(m_entries.begin());
    m_bytes += bytes;
    trimLocked();
    return image;
}

PositionImageCache::Entries::iterator PositionImageCache::findLocked(const std::string& key,
                                                                     const Box& box) {
    const auto found = m_index.find(key);
    if (found == m_index.end()) return m_entries.end();
    for (const Entries::iterator entry : found->second)
        if (entry->image.box().contains(box)) {
            m_entries.splice(m_entries.begin(), m_entries, entry);
            return entry;
        }
    return m_entries.end();
}

void PositionImageCache::trimLocked() {
    while (m_bytes > m_capacity && !m_entries.empty()) {
        const Entries::iterator last = std::prev(m_entries.end());
        m_bytes -= last->bytes;
        std::vector<Entries::iterator>& kept = m_index[last->key];
        kept.erase(std::find(kept.begin(), kept.end(), last));
        if (kept.empty()) m_index.erase(last->key);
        m_entries.pop_back();
    }
}

void PositionImageCache::setCapacity(std::size_t bytes) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_capacity = bytes;
    trimLocked();
}

void PositionImageCache::reserve(std::size_t bytes) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_capacity = std::max(m_capacity, bytes);
}

std::size_t PositionImageCache::capacity() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_capacity;
}

std::size_t PositionImageCache::bytes() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

std::size_t PositionImageCache::entries() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

std::size_t PositionImageCache::hits() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_hits;
}

std::size_t PositionImageCache::misses() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_misses;
}

void PositionImageCache::clear() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
    m_index.clear();
    m_bytes = 0;
}

}  // namespace ImageProjection
}  // namespace Kiln
