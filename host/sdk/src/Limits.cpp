// SPDX-License-Identifier: Apache-2.0
#include "px/image/Limits.h"

#include <cmath>
#include <sstream>

namespace PX {
namespace Image {

std::string keyFrameRefusal(double frame, std::size_t keysHeld) {
    if (!std::isfinite(frame) || std::fabs(frame) > Limits::kMaxFrame) {
        std::ostringstream os;
        os << "key frame " << frame << " is outside -" << Limits::kMaxFrame << " to "
           << Limits::kMaxFrame;
        return os.str();
    }
    if (keysHeld >= Limits::kMaxKeys)
        return "a knob holds at most " + std::to_string(Limits::kMaxKeys) + " keys";
    return {};
}

std::string quoteForMessage(const std::string& text) {
    if (text.size() <= Limits::kMaxQuotedBytes) return text;
    // Cut before a UTF-8 continuation byte, never inside a character.
    std::size_t cut = Limits::kMaxQuotedBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "... (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace Image
}  // namespace PX
