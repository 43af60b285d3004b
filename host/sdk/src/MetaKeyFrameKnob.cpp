// SPDX-License-Identifier: Apache-2.0
#include "px/image/MetaKeyFrameKnob.h"

#include <cmath>

#include "px/image/UndoStack.h"

namespace PX {
namespace Image {

std::vector<float> MetaKeyFrameKnob::keys() const {
    return m_delegate ? m_delegate->getKeys() : std::vector<float>();
}

void MetaKeyFrameKnob::addKeyAtCurrentFrame() {
    if (!m_delegate) return;
    UndoStack::instance().begin(label().empty() ? name() : label());
    m_delegate->addKey(float(uiContext().frame()));
    UndoStack::instance().end();
    changed();
}

void MetaKeyFrameKnob::deleteKeys(const std::vector<float>& frames) {
    if (!m_delegate) return;
    UndoStack::instance().begin(label().empty() ? name() : label());
    m_delegate->deleteKeys(frames);
    UndoStack::instance().end();
    changed();
}

int MetaKeyFrameKnob::get_key_list(std::set<int>& keys) const {
    for (float k : this->keys()) keys.insert(int(std::lround(k)));
    return int(keys.size());
}

}  // namespace Image
}  // namespace PX
