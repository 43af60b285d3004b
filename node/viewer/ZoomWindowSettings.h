// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace PX {
namespace Image {
class KnobCallback;
}
}  // namespace PX

namespace Korvane {
namespace Research {

/// When and how the zoom window over the viewer shows: its settings knobs, every name being
/// the owner's prefix followed by the names below. Enumeration entries are declared as
/// "index\tlabel", so the stored value is the index.
class ZoomWindowSettings {
public:
    enum class Behaviour { Always, OnTrackMove, WhenTracking, WhenTrackingOrTrackChange, Never };
    enum class Filter { Always, OnPlayback, Never };

    /// `windows`: how many zoom windows the owner draws.
    explicit ZoomWindowSettings(int windows = 10, std::string prefix = {})
        : m_windows(windows), m_prefix(std::move(prefix)) {}
    void knobs(PX::Image::KnobCallback& f);

    Behaviour behaviour() const { return Behaviour(m_behaviour); }
    Filter filter() const { return Filter(m_filter); }
    /// "always" filters, "never" does not, "on playback" only while the viewer plays.
    bool filtered(bool playing) const;
    int windows() const { return m_windows; }

private:
    int m_windows;
    std::string m_prefix;
    int m_behaviour = 1;
    int m_size = 1;
    int m_magnification = 2;
    int m_filter = 1;
    int m_customSize[2] = {150, 150};
    float m_customMagnification = 4.0f;
};

}  // namespace Research
}  // namespace Korvane
