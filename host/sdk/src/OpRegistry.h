// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "px/image/Op.h"

namespace PX {
namespace Image {
namespace detail {

/// Every Op::Description alive in the process. Descriptions add themselves from static
/// initialisers (while dlopen runs, or at start-up for ones linked in) and remove themselves
/// when their library unloads. While a plug-in loads, new descriptions are tagged with its
/// file so the loader can tell what the file registered.
class OpRegistry {
public:
    static OpRegistry& instance();

    void add(Op::Description* d);
    void remove(Op::Description* d);
    const Op::Description* find(const std::string& name) const;
    std::vector<const Op::Description*> all() const;
    std::vector<std::string> namesFrom(const std::string& file) const;

    void beginLoading(const std::string& file);
    /// The names registered since beginLoading.
    std::vector<std::string> endLoading();

private:
    mutable std::recursive_mutex m_mutex;
    std::vector<Op::Description*> m_descriptions;
    std::string m_loadingFile;
    std::vector<std::string> m_loadedNames;
};

}  // namespace detail
}  // namespace Image
}  // namespace PX
