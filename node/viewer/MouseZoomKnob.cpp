// SPDX-License-Identifier: Apache-2.0
#include "viewer/MouseZoomKnob.h"

#include <cmath>
#include <cstdlib>
#include <ostream>

namespace Korvane {
namespace Research {

using namespace PX::Image;

MouseZoomKnob::MouseZoomKnob(Node* node) : Knob(node, "mouseZoom", "") { set_flag(INVISIBLE); }

bool MouseZoomKnob::to_script(std::ostream& os, const OutputContext*, bool) const {
    os << m_zoom;
    return true;
}

bool MouseZoomKnob::from_script(const char* text) {
    const std::string t = text ? text : "";
    if (t.find_first_not_of(" \t\n") == std::string::npos) {
        m_zoom = 0.0f;
        return true;
    }
    char* end = nullptr;
    const double z = std::strtod(t.c_str(), &end);
    if (end == t.c_str() || *end != '\0' || !std::isfinite(z)) {
        setError("knob 'mouseZoom': '" + t + "' is not a number");
        return false;
    }
    m_zoom = float(z);
    return true;
}

}  // namespace Research
}  // namespace Korvane
