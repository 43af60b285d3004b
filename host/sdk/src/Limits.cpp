// SPDX-License-Identifier: Apache-2.0
#include "px/image/Limits.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

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

namespace {

std::string frameOutside(long long frame, const std::string& what) {
    return what + ": frame " + std::to_string(frame) + " is outside -" +
           std::to_string(Limits::kMaxFrame) + " to " + std::to_string(Limits::kMaxFrame);
}

std::string tooMany(unsigned long long count, const std::string& what) {
    return what + ": " + std::to_string(count) + " frames; at most " +
           std::to_string(Limits::kMaxFrames) + " are taken at once";
}

}  // namespace

std::vector<int> frameSpan(long long first,
                           long long last,
                           long long step,
                           const std::string& what) {
    if (step < 1)
        throw std::invalid_argument(what + ": step " + std::to_string(step) + " is not positive");
    if (last < first)
        throw std::invalid_argument(what + ": " + std::to_string(first) + " to " +
                                    std::to_string(last) + " runs backwards");
    for (long long f : {first, last})
        if (f < -Limits::kMaxFrame || f > Limits::kMaxFrame)
            throw std::invalid_argument(frameOutside(f, what));
    const unsigned long long count = (unsigned long long)((last - first) / step) + 1;
    if (count > Limits::kMaxFrames) throw std::invalid_argument(tooMany(count, what));
    std::vector<int> frames;
    frames.reserve(std::size_t(count));
    for (long long f = first; f <= last; f += step) frames.push_back(int(f));
    return frames;
}

void checkFrameList(const std::vector<int>& frames, const std::string& what) {
    if (frames.size() > Limits::kMaxFrames)
        throw std::invalid_argument(tooMany(frames.size(), what));
    for (int f : frames)
        if (f < -Limits::kMaxFrame || f > Limits::kMaxFrame)
            throw std::invalid_argument(frameOutside(f, what));
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
