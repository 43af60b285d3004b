// SPDX-License-Identifier: Apache-2.0
#include "viewer/MouseRotateKnob.h"

#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace Korvane {
namespace Research {

using namespace PX::Image;

MouseRotateKnob::MouseRotateKnob(Node* node) : Knob(node, "mouseRotate", "") {
    set_flag(INVISIBLE);
}

bool MouseRotateKnob::to_script(std::ostream& os, const OutputContext*, bool) const {
    char text[128];
    std::snprintf(text,
                  sizeof text,
                  "{%.17g %.17g %.17g %.17g}",
                  m_rotation.w,
                  m_rotation.x,
                  m_rotation.y,
                  m_rotation.z);
    os << text;
    return true;
}

bool MouseRotateKnob::from_script(const char* text) {
    std::string t = text ? text : "";
    if (t.find_first_not_of(" \t\n") == std::string::npos) {
        m_rotation = Quaternion();
        return true;
    }
    for (char& c : t)
        if (c == '{' || c == '}') c = ' ';
    std::istringstream in(t);
    Quaternion q;
    std::string rest;
    if (!(in >> q.w >> q.x >> q.y >> q.z) || (in >> rest) || !std::isfinite(q.norm()) ||
        q.norm() < 1e-12) {
        setError("knob 'mouseRotate': '" + std::string(text) + "' is not a rotation {w x y z}");
        return false;
    }
    m_rotation = q;
    return true;
}

void MouseRotateKnob::append(Hash& hash, const OutputContext*) const {
    hash.append(m_rotation.w);
    hash.append(m_rotation.x);
    hash.append(m_rotation.y);
    hash.append(m_rotation.z);
}

bool MouseRotateKnob::not_default() const {
    return m_rotation.w != 1.0 || m_rotation.x != 0.0 || m_rotation.y != 0.0 || m_rotation.z != 0.0;
}

}  // namespace Research
}  // namespace Korvane
