// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <string>
#include <variant>
#include <vector>

namespace PX {
namespace Image {
namespace MetaData {

/// One metadata value. Which kinds a key carries is decided by whoever writes it (the rig
/// library documents its own keys); the host only stores and passes values on.
using Value = std::variant<int, double, std::string, std::vector<int>, std::vector<double>>;

/// Key -> value metadata travelling with an image stream. Operators that do not change it
/// pass their input's bundle on. Copies are independent.
class Bundle {
public:
    bool empty() const { return m_values.empty(); }
    size_t size() const { return m_values.size(); }
    void clear() { m_values.clear(); }

    /// Null when the key is absent.
    const Value* find(const std::string& key) const;
    /// Null when the key is absent or holds another kind.
    template <typename T>
    const T* get(const std::string& key) const {
        const Value* v = find(key);
        return v ? std::get_if<T>(v) : nullptr;
    }
    void setData(const std::string& key, Value value) { m_values[key] = std::move(value); }
    bool erase(const std::string& key) { return m_values.erase(key) > 0; }

    /// Keys in ascending order.
    auto begin() const { return m_values.begin(); }
    auto end() const { return m_values.end(); }

    bool operator==(const Bundle& o) const { return m_values == o.m_values; }
    bool operator!=(const Bundle& o) const { return !(*this == o); }

private:
    std::map<std::string, Value> m_values;
};

inline const Value* Bundle::find(const std::string& key) const {
    auto it = m_values.find(key);
    return it == m_values.end() ? nullptr : &it->second;
}

}  // namespace MetaData
}  // namespace Image
}  // namespace PX
