// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace PX {
namespace Image {

/// What the host accepts from a user's numbers and files, so that no script, option or knob
/// can make it allocate without bound. Each limit is refused with a message that names it.
namespace Limits {

/// Frame numbers: from -kMaxFrame to kMaxFrame (frame ranges, key frames, --frames).
constexpr int kMaxFrame = 100000000;
/// Frames in one frame list or render.
constexpr std::size_t kMaxFrames = 1000000;
/// Animation keys on one knob.
constexpr std::size_t kMaxKeys = 100000;
/// Views of a project (and so cameras of a rig).
constexpr std::size_t kMaxViews = 1000;
/// A script file, and one line of it.
constexpr std::size_t kMaxScriptBytes = std::size_t(256) << 20;
constexpr std::size_t kMaxScriptLineBytes = std::size_t(64) << 20;
/// Input quoted in a message is cut to this many bytes (then "...").
constexpr std::size_t kMaxQuotedBytes = 200;

}  // namespace Limits

/// Why a key at `frame` cannot join `keysHeld` others (outside the frame limits, or one key
/// too many); empty when it can.
std::string keyFrameRefusal(double frame, std::size_t keysHeld);

/// The frames first, first + step, ... up to last. Throws std::invalid_argument, before
/// allocating anything, for a step below 1, a range that runs backwards, a frame beyond
/// Limits::kMaxFrame or more than Limits::kMaxFrames frames; `what` starts the message.
std::vector<int> frameSpan(long long first,
                           long long last,
                           long long step,
                           const std::string& what);
/// Throws as frameSpan does for a list of more than kMaxFrames frames or a frame beyond
/// kMaxFrame.
void checkFrameList(const std::vector<int>& frames, const std::string& what);

/// `text` cut to Limits::kMaxQuotedBytes, with "... (N bytes)" when it was longer.
std::string quoteForMessage(const std::string& text);

}  // namespace Image
}  // namespace PX
