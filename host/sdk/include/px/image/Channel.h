// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <iterator>
#include <string>
#include <vector>

namespace PX {
namespace Image {

/// A channel is a small positive number naming "layer.channel". The standard channels have
/// fixed numbers (rgba 1 to 4, stitch_map u and v 5 and 6); any other channel gets the next
/// free number the first time its name is asked for, so its number is stable for the life of
/// the process but not across processes. Chan_Black (0) is "no channel".
using Channel = int;

constexpr Channel Chan_Black = 0;
constexpr Channel Chan_Red = 1;
constexpr Channel Chan_Green = 2;
constexpr Channel Chan_Blue = 3;
constexpr Channel Chan_Alpha = 4;
constexpr Channel Chan_StitchMap_U = 5;
constexpr Channel Chan_StitchMap_V = 6;

/// The channel called `fullName` ("layer.channel"; a bare name goes into the layer "other"),
/// made on first use. Thread-safe. Returns Chan_Black for an empty name or channel name.
Channel getChannel(const std::string& fullName);
/// The channel `name` of `layer`, made on first use.
Channel getChannel(const std::string& layer, const std::string& name);
/// "layer.channel"; "black" for Chan_Black; "" for a number never handed out.
std::string getName(Channel c);
std::string getLayerName(Channel c);
/// The part after the dot.
std::string getChannelName(Channel c);

/// An ordered set of channels. Iteration and text follow channel numbers, so rgba comes in
/// r, g, b, a order.
class ChannelSet {
public:
    ChannelSet() = default;
    ChannelSet(std::initializer_list<Channel> channels);
    ChannelSet(Channel c) { insert(c); }  // NOLINT: a channel is a one-channel set

    void insert(Channel c);
    void insert(const ChannelSet& other);
    void erase(Channel c);
    void clear() { m_words.clear(); }

    bool contains(Channel c) const;
    /// True when every channel of `other` is in this set.
    bool contains(const ChannelSet& other) const;
    bool empty() const;
    unsigned size() const;
    /// The position of `c` in iteration order, or -1 when absent.
    int chanNo(Channel c) const;
    /// The channels in ascending order.
    std::vector<Channel> channels() const;
    Channel first() const;

    ChannelSet operator&(const ChannelSet& o) const;  // intersection
    ChannelSet operator|(const ChannelSet& o) const;  // union
    ChannelSet operator-(const ChannelSet& o) const;  // difference
    ChannelSet& operator+=(Channel c) {
        insert(c);
        return *this;
    }
    bool operator==(const ChannelSet& o) const;
    bool operator!=(const ChannelSet& o) const { return !(*this == o); }

    /// "rgba.red rgba.green": the full names joined by blanks, "none" when empty.
    std::string text() const;

    class const_iterator;
    const_iterator begin() const;
    const_iterator end() const;

private:
    /// The smallest channel above `c` in the set, -1 when none.
    Channel nextAfter(Channel c) const;
    void trim();
    std::vector<uint64_t> m_words;
};

class ChannelSet::const_iterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Channel;
    using difference_type = std::ptrdiff_t;
    using pointer = const Channel*;
    using reference = Channel;

    Channel operator*() const { return m_channel; }
    const_iterator& operator++() {
        m_channel = m_set->nextAfter(m_channel);
        return *this;
    }
    bool operator!=(const const_iterator& o) const { return m_channel != o.m_channel; }
    bool operator==(const const_iterator& o) const { return m_channel == o.m_channel; }

private:
    friend class ChannelSet;
    const_iterator(const ChannelSet* set, Channel c) : m_set(set), m_channel(c) {}
    const ChannelSet* m_set;
    Channel m_channel;
};

inline ChannelSet::const_iterator ChannelSet::end() const { return const_iterator(this, -1); }

/// r, g, b, a.
extern const ChannelSet Mask_RGBA;
/// r, g, b.
extern const ChannelSet Mask_RGB;
/// stitch_map.u, stitch_map.v.
extern const ChannelSet Mask_StitchMap;

std::ostream& operator<<(std::ostream& os, const ChannelSet& set);

}  // namespace Image
}  // namespace PX
