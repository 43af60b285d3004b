// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <set>
#include <utility>
#include <vector>

#include "vellacam/CameraDefinition.h"

namespace Korvane {
namespace Research {

/// The cameras of a rig, which of them overlap ("links"), and the rig diameter in metres.
/// Cameras are indexed from 0. Links are symmetric and never join a camera to itself.
/// An index outside 0 .. getNumberCameras() - 1 throws std::out_of_range.
/// A plain value: copies are independent.
class CameraRigDefinition {
public:
    int getNumberCameras() const { return static_cast<int>(m_cameras.size()); }
    /// Keeps the first min(old, n) cameras and their links among themselves; new cameras are
    /// default definitions without links.
    void setNumberCameras(int n);

    const CameraDefinition& getCamera(int index) const { return m_cameras.at(index); }
    CameraDefinition& getCamera(int index) { return m_cameras.at(index); }
    void setCamera(int index, const CameraDefinition& camera) { m_cameras.at(index) = camera; }

    /// Marks cameras a and b as overlapping (or not). Linking a camera to itself is ignored.
    void setLinked(int a, int b, bool linked = true);
    bool isLinked(int a, int b) const { return m_links.at(a).count(b) > 0; }
    /// Indices of the cameras overlapping camera `index`, ascending.
    const std::set<int>& getLinks(int index) const { return m_links.at(index); }
    /// True when some camera has a link.
    bool hasLinks() const;
    /// Links every two cameras where at least `minimumShare` of a 24 x 18 grid of one camera's
    /// pixels, put on the convergence sphere of `convergenceDepth` metres, has an image in the
    /// other; links already set stay.
    void linkOverlappingCameras(double convergenceDepth, double minimumShare = 0.01);
    /// The overlapping pairs (a < b) among `cameras` (indices of this rig): those its links
    /// name or, when the rig records no links at all (a hand-written or converted rig file),
    /// those linkOverlappingCameras would link among them alone at `convergenceDepth`.
    std::vector<std::pair<int, int>> overlappingPairs(const std::vector<int>& cameras,
                                                      double convergenceDepth) const;

    /// Metres; 0 when unknown.
    double getRigDiameter() const { return m_diameter; }
    void setRigDiameter(double metres) { m_diameter = metres; }

    bool operator==(const CameraRigDefinition& o) const;
    bool operator!=(const CameraRigDefinition& o) const { return !(*this == o); }

private:
    std::vector<CameraDefinition> m_cameras;
    std::vector<std::set<int>> m_links;
    double m_diameter = 0.0;
};

}  // namespace Research
}  // namespace Korvane
