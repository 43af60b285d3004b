// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <string>
#include <vector>

#include "external/VisionLibrary.h"

namespace Korvane {
namespace Research {

/// One constraint point followed through time in one view; keys are Context(frame, view).
using PointTrack = SLIB::TFeatureTrack<SLIB::Feature>;

/// The point tracks of one line constraint, by host view number (1-based), in view order and,
/// within a view, in the order the points were added. Point k of a constraint is the k-th
/// track of this flattened order.
class ConstraintTrackSet {
public:
    std::map<int, std::vector<PointTrack>>& views() { return m_views; }
    const std::map<int, std::vector<PointTrack>>& views() const { return m_views; }

    /// Total number of point tracks over all views.
    int size() const;
    /// Point k in the flattened order, with its view; null when k is out of range.
    PointTrack* point(int k, int* view = nullptr);
    const PointTrack* point(int k, int* view = nullptr) const;
    /// The panel's "Views" text: view - 1 of every view holding a track, ascending, joined by
    /// "," ("0,2" for the first and third view).
    std::string viewsText() const;
    /// Appends the tracks of `other` to the lists of the same views.
    void append(const ConstraintTrackSet& other);

private:
    std::map<int, std::vector<PointTrack>> m_views;
};

/// A point's position at `frame`: no keys, none; one key, that key whatever the frame; a key at
/// exactly the frame, that key; outside the keyed range, the nearest end key; otherwise the
/// linear blend of the keys before and after. Keys of other views are ignored.
bool positionAtFrame(const PointTrack& track, int frame, int view, double* x, double* y);

}  // namespace Research
}  // namespace Korvane
