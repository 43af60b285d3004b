// SPDX-License-Identifier: Apache-2.0
#include "vellacam/CameraRigDefinition.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "vellacam/SphericalTransform.h"

namespace Korvane {
namespace Research {

void CameraRigDefinition::setNumberCameras(int n) {
    if (n < 0) throw std::out_of_range("negative camera count " + std::to_string(n));
    m_cameras.resize(n);
    m_links.resize(n);
    for (std::set<int>& links : m_links) links.erase(links.lower_bound(n), links.end());
}

void CameraRigDefinition::setLinked(int a, int b, bool linked) {
    std::set<int>& linksA = m_links.at(a);
    std::set<int>& linksB = m_links.at(b);
    if (a == b) return;
    if (linked) {
        linksA.insert(b);
        linksB.insert(a);
    } else {
        linksA.erase(b);
        linksB.erase(a);
    }
}

bool CameraRigDefinition::hasLinks() const {
    for (const std::set<int>& links : m_links)
        if (!links.empty()) return true;
    return false;
}

void CameraRigDefinition::linkOverlappingCameras(double convergenceDepth, double minimumShare) {
    constexpr int kColumns = 24;
    constexpr int kRows = 18;
    // Share of camera a's sample grid that camera b sees.
    auto share = [&](const CameraDefinition& a, const CameraDefinition& b) {
        SphericalTransform from(a);
        from.setConvergenceDepth(convergenceDepth);
        const SphericalTransform to(b);
        int seen = 0;
        for (int j = 0; j < kRows; ++j)
            for (int i = 0; i < kColumns; ++i) {
                const Eigen::Vector2d pixel((i + 0.5) * a.getFormatWidth() / kColumns,
                                            (j + 0.5) * a.getFormatHeight() / kRows);
                Eigen::Vector3d world;
                Eigen::Vector2d image;
                if (from.ProjectToWorld(pixel, &world) && to.ProjectFromWorld(world, &image))
                    ++seen;
            }
        return static_cast<double>(seen) / (kColumns * kRows);
    };
    const int count = getNumberCameras();
    for (int a = 0; a < count; ++a)
        for (int b = a + 1; b < count; ++b)
            if (share(m_cameras[a], m_cameras[b]) >= minimumShare ||
                share(m_cameras[b], m_cameras[a]) >= minimumShare)
                setLinked(a, b);
}

std::vector<std::pair<int, int>> CameraRigDefinition::overlappingPairs(
    const std::vector<int>& cameras, double convergenceDepth) const {
    std::vector<int> among = cameras;
    std::sort(among.begin(), among.end());
    among.erase(std::unique(among.begin(), among.end()), among.end());
    // A rig without links is linked among the cameras asked for only: a rig of hundreds of
    // cameras of which a few take part costs what those few do.
    CameraRigDefinition kept;
    kept.setNumberCameras(int(among.size()));
    for (size_t i = 0; i < among.size(); ++i) {
        kept.setCamera(int(i), getCamera(among[i]));
        for (size_t j = i + 1; j < among.size(); ++j)
            kept.setLinked(int(i), int(j), isLinked(among[i], among[j]));
    }
    if (!hasLinks()) kept.linkOverlappingCameras(convergenceDepth);
    std::vector<std::pair<int, int>> pairs;
    for (size_t i = 0; i < among.size(); ++i)
        for (const int j : kept.getLinks(int(i)))
            if (size_t(j) > i) pairs.emplace_back(among[i], among[size_t(j)]);
    return pairs;
}

bool CameraRigDefinition::operator==(const CameraRigDefinition& o) const {
    return m_cameras == o.m_cameras && m_links == o.m_links && m_diameter == o.m_diameter;
}

}  // namespace Research
}  // namespace Korvane
