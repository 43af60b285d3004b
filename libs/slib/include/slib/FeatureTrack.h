// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>

#include "slib/Context.h"
#include "slib/Feature.h"

namespace Korvane {
namespace SLIB {

/// One feature followed through time: its samples keyed by (frame, view), in Context order.
/// A track starts empty and is filled key by key; `F` is Feature or a type derived from it.
template <typename F>
class TFeatureTrack {
public:
    using Keys = std::map<Context, F>;

    const Keys& keys() const { return m_keys; }
    Keys& keys() { return m_keys; }
    bool empty() const { return m_keys.empty(); }
    int size() const { return int(m_keys.size()); }

    /// Stores `feature` at `context`, replacing a key there.
    void setKey(const Context& context, const F& feature) { m_keys[context] = feature; }
    /// The key at exactly `context`, null when there is none.
    const F* find(const Context& context) const {
        auto it = m_keys.find(context);
        return it == m_keys.end() ? nullptr : &it->second;
    }

private:
    Keys m_keys;
};

}  // namespace SLIB
}  // namespace Korvane
