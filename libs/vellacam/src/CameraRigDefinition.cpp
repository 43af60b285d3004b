// SPDX-License-Identifier: Apache-2.0
#include "vellacam/CameraRigDefinition.h"

#include <stdexcept>
#include <string>

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

bool CameraRigDefinition::operator==(const CameraRigDefinition& o) const {
    return m_cameras == o.m_cameras && m_links == o.m_links && m_diameter == o.m_diameter;
}

}  // namespace Research
}  // namespace Korvane
