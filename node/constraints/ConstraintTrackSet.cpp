// SPDX-License-Identifier: Apache-2.0
#include "constraints/ConstraintTrackSet.h"

#include <iterator>
#include <utility>

namespace Korvane {
namespace Research {

int ConstraintTrackSet::size() const {
    int n = 0;
    for (const auto& [view, tracks] : m_views) n += int(tracks.size());
    return n;
}

const PointTrack* ConstraintTrackSet::point(int k, int* view) const {
    if (k < 0) return nullptr;
    for (const auto& [v, tracks] : m_views) {
        if (k < int(tracks.size())) {
            if (view) *view = v;
            return &tracks[size_t(k)];
        }
        k -= int(tracks.size());
    }
    return nullptr;
}

PointTrack* ConstraintTrackSet::point(int k, int* view) {
    return const_cast<PointTrack*>(std::as_const(*this).point(k, view));
}

std::string ConstraintTrackSet::viewsText() const {
    std::string text;
    for (const auto& [view, tracks] : m_views) {
        if (tracks.empty()) continue;
        if (!text.empty()) text += ',';
        text += std::to_string(view - 1);
    }
    return text;
}

void ConstraintTrackSet::append(const ConstraintTrackSet& other) {
    for (const auto& [view, tracks] : other.m_views) {
        std::vector<PointTrack>& mine = m_views[view];
        mine.insert(mine.end(), tracks.begin(), tracks.end());
    }
}

bool positionAtFrame(const PointTrack& track, int frame, int view, double* x, double* y) {
    const auto& keys = track.keys();
    if (keys.empty()) return false;
    auto set = [&](const SLIB::Feature& f) {
        *x = f.x;
        *y = f.y;
        return true;
    };
    if (keys.size() == 1) return set(keys.begin()->second);
    const SLIB::Context at(frame, view);
    auto after = keys.lower_bound(at);
    if (after != keys.end() && after->first == at) return set(after->second);
    if (after == keys.end()) return set(std::prev(after)->second);
    if (after == keys.begin()) return set(after->second);
    const auto before = std::prev(after);
    const double f0 = before->first.frame, f1 = after->first.frame;
    // Keys of one track share a view, so f1 > f0 here; equal frames would mean two views.
    const double t = f1 > f0 ? (frame - f0) / (f1 - f0) : 0.0;
    *x = (1 - t) * before->second.x + t * after->second.x;
    *y = (1 - t) * before->second.y + t * after->second.y;
    return true;
}

}  // namespace Research
}  // namespace Korvane
