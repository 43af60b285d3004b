// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "external/ComputeFramework.h"
#include "px/image/Channel.h"

namespace Korvane {
namespace Research {

/// The last blended panorama of a node, kept for the (channel set, render hash) it was built
/// for, so that a new view projection of an unchanged panorama (a turn or zoom of the view)
/// costs only the view projection. One entry: a new key replaces it. Thread-safe; the image
/// handed out is shared and must not be written.
class PanoramaCache {
public:
    /// The panorama for exactly this key; none on a miss.
    std::optional<Kiln::Image> find(const PX::Image::ChannelSet& channels, uint64_t hash) const;
    void store(const PX::Image::ChannelSet& channels, uint64_t hash, const Kiln::Image& panorama);
    void clear();
    /// The panorama stored last, whatever its key; empty when none.
    Kiln::Image last() const;
    int hits() const { return m_hits; }
    int misses() const { return m_misses; }

private:
    mutable std::mutex m_mutex;
    PX::Image::ChannelSet m_channels;
    uint64_t m_hash = 0;
    Kiln::Image m_panorama;
    mutable int m_hits = 0, m_misses = 0;
};

}  // namespace Research
}  // namespace Korvane
