// SPDX-License-Identifier: Apache-2.0
#include "px/image/Channel.h"

#include <map>
#include <mutex>
#include <ostream>

namespace PX {
namespace Image {

namespace {

class ChannelTable {
public:
    ChannelTable() {
        for (const char* name :
             {"rgba.red", "rgba.green", "rgba.blue", "rgba.alpha", "stitch_map.u", "stitch_map.v"})
            add(name);
    }

    Channel find(const std::string& fullName) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_byName.find(fullName);
        return it != m_byName.end() ? it->second : add(fullName);
    }

    std::string name(Channel c) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (c == Chan_Black) return "black";
        return c > 0 && c < int(m_names.size()) ? m_names[c] : std::string();
    }

private:
    // Called with the mutex held (or from the constructor).
    Channel add(const std::string& fullName) {
        const Channel c = Channel(m_names.size());
        m_names.push_back(fullName);
        m_byName[fullName] = c;
        return c;
    }

    std::mutex m_mutex;
    std::vector<std::string> m_names{"black"};
    std::map<std::string, Channel> m_byName;
};

ChannelTable& table() {
    static ChannelTable t;
    return t;
}

// The common short names a reader may bring for the rgba layer.
std::string canonical(const std::string& layer, const std::string& name) {
    if (layer == "rgba" || layer == "rgb") {
        if (name == "r") return "rgba.red";
        if (name == "g") return "rgba.green";
        if (name == "b") return "rgba.blue";
        if (name == "a") return "rgba.alpha";
        return "rgba." + name;
    }
    if (layer.empty() && name == "alpha") return "rgba.alpha";
    return (layer.empty() ? std::string("other") : layer) + "." + name;
}

}  // namespace

Channel getChannel(const std::string& fullName) {
    if (fullName.empty()) return Chan_Black;
    const size_t dot = fullName.rfind('.');
    if (dot == std::string::npos) return table().find(canonical("", fullName));
    // "layer." names no channel, as getChannel(layer, "") does not.
    if (dot + 1 == fullName.size()) return Chan_Black;
    return table().find(canonical(fullName.substr(0, dot), fullName.substr(dot + 1)));
}

Channel getChannel(const std::string& layer, const std::string& name) {
    if (name.empty()) return Chan_Black;
    return table().find(canonical(layer, name));
}

std::string getName(Channel c) { return table().name(c); }

std::string getLayerName(Channel c) {
    const std::string n = getName(c);
    const size_t dot = n.rfind('.');
    return dot == std::string::npos ? std::string() : n.substr(0, dot);
}

std::string getChannelName(Channel c) {
    const std::string n = getName(c);
    const size_t dot = n.rfind('.');
    return dot == std::string::npos ? n : n.substr(dot + 1);
}

// ---------------------------------------------------------------------------------------------

ChannelSet::ChannelSet(std::initializer_list<Channel> channels) {
    for (Channel c : channels) insert(c);
}

void ChannelSet::insert(Channel c) {
    if (c <= Chan_Black) return;
    const size_t word = size_t(c) / 64;
    if (m_words.size() <= word) m_words.resize(word + 1, 0);
    m_words[word] |= uint64_t(1) << (c % 64);
}

void ChannelSet::insert(const ChannelSet& other) {
    if (m_words.size() < other.m_words.size()) m_words.resize(other.m_words.size(), 0);
    for (size_t i = 0; i < other.m_words.size(); ++i) m_words[i] |= other.m_words[i];
}

void ChannelSet::erase(Channel c) {
    if (!contains(c)) return;
    m_words[size_t(c) / 64] &= ~(uint64_t(1) << (c % 64));
    trim();
}

bool ChannelSet::contains(Channel c) const {
    if (c <= Chan_Black || size_t(c) / 64 >= m_words.size()) return false;
    return (m_words[size_t(c) / 64] >> (c % 64)) & 1;
}

bool ChannelSet::contains(const ChannelSet& other) const { return (other - *this).empty(); }

bool ChannelSet::empty() const { return m_words.empty(); }

unsigned ChannelSet::size() const {
    unsigned n = 0;
    for (uint64_t w : m_words) n += unsigned(__builtin_popcountll(w));
    return n;
}

int ChannelSet::chanNo(Channel c) const {
    if (!contains(c)) return -1;
    int n = 0;
    for (Channel x : *this) {
        if (x == c) return n;
        ++n;
    }
    return -1;
}

std::vector<Channel> ChannelSet::channels() const { return std::vector<Channel>(begin(), end()); }

Channel ChannelSet::first() const {
    const Channel c = nextAfter(Chan_Black);
    return c < 0 ? Chan_Black : c;
}

Channel ChannelSet::nextAfter(Channel c) const {
    for (Channel n = c + 1; size_t(n) / 64 < m_words.size(); ++n) {
        const uint64_t rest = m_words[size_t(n) / 64] >> (n % 64);
        if (rest) return n + __builtin_ctzll(rest);
        n |= 63;  // skip to the end of this word
    }
    return -1;
}

ChannelSet::const_iterator ChannelSet::begin() const {
    return const_iterator(this, nextAfter(Chan_Black));
}

ChannelSet ChannelSet::operator&(const ChannelSet& o) const {
    ChannelSet r;
    r.m_words.resize(std::min(m_words.size(), o.m_words.size()));
    for (size_t i = 0; i < r.m_words.size(); ++i) r.m_words[i] = m_words[i] & o.m_words[i];
    r.trim();
    return r;
}

ChannelSet ChannelSet::operator|(const ChannelSet& o) const {
    ChannelSet r = *this;
    r.insert(o);
    return r;
}

ChannelSet ChannelSet::operator-(const ChannelSet& o) const {
    ChannelSet r = *this;
    for (size_t i = 0; i < std::min(r.m_words.size(), o.m_words.size()); ++i)
        r.m_words[i] &= ~o.m_words[i];
    r.trim();
    return r;
}

bool ChannelSet::operator==(const ChannelSet& o) const {
    return m_words == o.m_words;  // both trimmed
}

void ChannelSet::trim() {
    while (!m_words.empty() && m_words.back() == 0) m_words.pop_back();
}

std::string ChannelSet::text() const {
    if (empty()) return "none";
    std::string s;
    for (Channel c : *this) {
        if (!s.empty()) s += ' ';
        s += getName(c);
    }
    return s;
}

const ChannelSet Mask_RGBA{Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha};
const ChannelSet Mask_RGB{Chan_Red, Chan_Green, Chan_Blue};
const ChannelSet Mask_StitchMap{Chan_StitchMap_U, Chan_StitchMap_V};

std::ostream& operator<<(std::ostream& os, const ChannelSet& set) { return os << set.text(); }

}  // namespace Image
}  // namespace PX
