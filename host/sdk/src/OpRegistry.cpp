// SPDX-License-Identifier: Apache-2.0
#include "OpRegistry.h"

#include <algorithm>

namespace PX {
namespace Image {
namespace detail {

OpRegistry& OpRegistry::instance() {
    static OpRegistry registry;
    return registry;
}

void OpRegistry::add(Op::Description* d) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    d->pluginFile = m_loadingFile;
    m_descriptions.push_back(d);
    m_loadedNames.push_back(d->name);
}

void OpRegistry::remove(Op::Description* d) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_descriptions.erase(std::remove(m_descriptions.begin(), m_descriptions.end(), d),
                         m_descriptions.end());
}

const Op::Description* OpRegistry::find(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // The first registration of a name wins; a later duplicate cannot replace a class that
    // nodes may already use.
    for (const Op::Description* d : m_descriptions)
        if (name == d->name) return d;
    return nullptr;
}

std::vector<const Op::Description*> OpRegistry::all() const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return {m_descriptions.begin(), m_descriptions.end()};
}

std::vector<std::string> OpRegistry::namesFrom(const std::string& file) const {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    std::vector<std::string> names;
    for (const Op::Description* d : m_descriptions)
        if (d->pluginFile == file) names.push_back(d->name);
    return names;
}

void OpRegistry::beginLoading(const std::string& file) {
    m_mutex.lock();  // held until endLoading: one plug-in loads at a time
    m_loadingFile = file;
    m_loadedNames.clear();
}

std::vector<std::string> OpRegistry::endLoading() {
    std::vector<std::string> names = std::move(m_loadedNames);
    m_loadedNames.clear();
    m_loadingFile.clear();
    m_mutex.unlock();
    return names;
}

}  // namespace detail
}  // namespace Image
}  // namespace PX
