// SPDX-License-Identifier: Apache-2.0
#include "render/PanoramaCache.h"

namespace Korvane {
namespace Research {

std::optional<Kiln::Image> PanoramaCache::find(const PX::Image::ChannelSet& channels,
                                               uint64_t hash) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_panorama.empty() || hash != m_hash || channels != m_channels) {
        ++m_misses;
        return std::nullopt;
    }
    ++m_hits;
    return m_panorama;
}

void PanoramaCache::store(const PX::Image::ChannelSet& channels,
                          uint64_t hash,
                          const Kiln::Image& panorama) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_channels = channels;
    m_hash = hash;
    m_panorama = panorama;
}

void PanoramaCache::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_panorama = Kiln::Image();
}

Kiln::Image PanoramaCache::last() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_panorama;
}

}  // namespace Research
}  // namespace Korvane
