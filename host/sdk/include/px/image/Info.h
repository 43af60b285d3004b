// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Box.h"
#include "px/image/Channel.h"
#include "px/image/Format.h"

namespace PX {
namespace Image {

/// What validation tells downstream about an operator's output: the box that holds pixels,
/// the channels, the format pair and the frame range.
class Info {
public:
    const Box& box() const { return m_box; }
    void set(const Box& box) { m_box = box; }
    const ChannelSet& channels() const { return m_channels; }
    void channels(const ChannelSet& c) { m_channels = c; }
    void turn_on(const ChannelSet& c) { m_channels.insert(c); }
    void turn_off(const ChannelSet& c) { m_channels = m_channels - c; }
    const Format& format() const { return m_format; }
    void format(const Format& f) { m_format = f; }
    const Format& full_size_format() const { return m_fullSizeFormat; }
    void full_size_format(const Format& f) { m_fullSizeFormat = f; }
    int first_frame() const { return m_firstFrame; }
    int last_frame() const { return m_lastFrame; }
    void first_frame(int f) { m_firstFrame = f; }
    void last_frame(int f) { m_lastFrame = f; }

    /// Grows this information to cover `other`: boxes merged, channels joined, frame range
    /// widened. Formats stay this one's.
    void merge(const Info& other) {
        m_box = m_box.merge(other.m_box);
        m_channels.insert(other.m_channels);
        m_firstFrame = std::min(m_firstFrame, other.m_firstFrame);
        m_lastFrame = std::max(m_lastFrame, other.m_lastFrame);
    }

private:
    Box m_box;
    ChannelSet m_channels;
    Format m_format;
    Format m_fullSizeFormat;
    int m_firstFrame = 1;
    int m_lastFrame = 1;
};

}  // namespace Image
}  // namespace PX
