// SPDX-License-Identifier: Apache-2.0
#include "px/image/OutputContext.h"

#include <mutex>

namespace PX {
namespace Image {

void OutputContext::appendProxy(Hash& hash) const {
    hash.append(m_scaleX);
    hash.append(m_scaleY);
    hash.append(m_offsetX);
    hash.append(m_offsetY);
}

bool OutputContext::operator==(const OutputContext& o) const {
    return m_frame == o.m_frame && m_view == o.m_view && m_scaleX == o.m_scaleX &&
           m_scaleY == o.m_scaleY && m_offsetX == o.m_offsetX && m_offsetY == o.m_offsetY;
}

namespace Views {

namespace {
std::mutex g_mutex;
std::vector<std::string>& list() {
    static std::vector<std::string> names{"main"};
    return names;
}
}  // namespace

std::vector<std::string> names() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return list();
}

void setNames(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> lock(g_mutex);
    list() = names;
}

int count() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return int(list().size());
}

std::string name(int view) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return view >= 0 && view < int(list().size()) ? list()[size_t(view)] : std::string();
}

int find(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (size_t i = 0; i < list().size(); ++i)
        if (list()[i] == name) return int(i);
    return -1;
}

}  // namespace Views

}  // namespace Image
}  // namespace PX
