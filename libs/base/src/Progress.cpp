// SPDX-License-Identifier: Apache-2.0
#include "base/Progress.h"

namespace Korvane {
namespace Base {

void Progress::reportProgress(float fraction) {
    if (m_parent) m_parent->reportProgress(map(fraction));
}

void Progress::reportMessage(const std::string& message) {
    if (m_parent) m_parent->reportMessage(message);
}

void Progress::setRange(float begin, float end) {
    m_offset = begin;
    m_scale = end - begin;
}

}  // namespace Base
}  // namespace Korvane
