// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include "vellacam/FeatureTrack.h"

namespace Korvane {
namespace Research {

/// The camera matches of one frame.
class CameraTrack {
public:
    explicit CameraTrack(int frame) : m_frame(frame) {}

    int getFrame() const { return m_frame; }
    std::vector<FeatureTrack>& getTracks() { return m_tracks; }
    const std::vector<FeatureTrack>& getTracks() const { return m_tracks; }

private:
    int m_frame;
    std::vector<FeatureTrack> m_tracks;
};

}  // namespace Research
}  // namespace Korvane
