// SPDX-License-Identifier: Apache-2.0
#include "RigSidecar.h"

#include <vector>

#include "px/image/OutputContext.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigError.h"
#include "vellacam/RigFile.h"

namespace Vireo {

RigSidecar RigSidecar::read(const std::string& path) {
    RigSidecar rig;
    try {
        Korvane::Research::ReadRigFile(path, &rig.m_bundle);
        Korvane::Research::MetaDataHandler handler;
        handler.updateMetaDataBundle(rig.m_bundle);
        rig.m_cameraCount = handler.getNumberCameras();
    } catch (const Korvane::Research::RigError& e) {
        throw Error(e.userMessage());
    }
    return rig;
}

void RigSidecar::addMissingViews() const {
    std::vector<std::string> views = PX::Image::Views::names();
    const size_t before = views.size();
    auto need = [&views](const std::string& name) {
        for (const std::string& v : views)
            if (v == name) return;
        views.push_back(name);
    };
    need("main");
    for (int c = 1; c <= m_cameraCount; ++c) need("cam" + std::to_string(c));
    if (views.size() != before) PX::Image::Views::setNames(views);
}

}  // namespace Vireo
