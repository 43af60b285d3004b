// SPDX-License-Identifier: Apache-2.0
#include "plugin/RigContext.h"

#include <cmath>

#include "external/RigLibrary.h"
#include "px/image/Format.h"
#include "px/image/Op.h"
#include "px/image/OutputContext.h"
#include "px/image/StringKnob.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

RigContext::RigContext(Op* node) : m_node(node), m_views(node) {}

void RigContext::reloadRig(bool onlyOnChange) {
    if (m_reloading) return;
    if (onlyOnChange && m_rig.getNumberCameras() == m_views.numberOfCameraViews()) return;
    // The rig is the one the source delivers. The node's own output metadata is not read back
    // here: in latlong camera output it describes rewritten latlong cameras, which would feed
    // the rewrite into the rig it was made from.
    m_reloading = true;
    MetaData::Bundle bundle;
    if (Op* input = m_node->node_input(0)) bundle = input->fetchMetaData();
    m_reloading = false;
    MetaDataHandler handler;
    try {
        handler.updateMetaDataBundle(bundle);
    } catch (const std::exception&) {
        // Metadata that does not describe a rig: the node works without cameras.
    }
    m_inputRig = handler.getRig();
    m_rig = corrected(m_inputRig, &m_correctionRefused);
    m_rotation = handler.getRigRotation();
    m_convergence = handler.getRigConvergence();

    Hash h;
    for (const auto& entry : handler.getMetaDataBundle()) {
        h.append(entry.first);
        std::visit(
            [&h](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::vector<int>> ||
                              std::is_same_v<T, std::vector<double>>) {
                    for (auto x : v) h.append(x);
                } else {
                    h.append(v);
                }
            },
            entry.second);
    }
    if (auto* knob = dynamic_cast<StringKnob*>(m_node->knob("rigCorrection")))
        h.append(knob->text());
    m_rigHash = h;
}

CameraRigDefinition RigContext::corrected(const CameraRigDefinition& rig, bool* refused) const {
    auto* knob = dynamic_cast<StringKnob*>(m_node->knob("rigCorrection"));
    RigCorrection correction;
    const bool read =
        knob && RigCorrection::fromText(knob->text(), rig.getNumberCameras(), &correction);
    if (refused) *refused = !read && knob && !knob->text().empty() && rig.getNumberCameras() > 0;
    if (!read) return rig;
    return CorrectedRig(rig, correction);
}

bool RigContext::isPanoramaView(int view) const {
    return view >= 0 &&
           (view == panoramaView(0) || view == panoramaView(1) || view == panoramaView(2));
}

int RigContext::cameraIndexOfView(int view) const {
    const int n = MultiViewManager::cameraNumber(Views::name(view));
    return n >= 1 ? n - 1 : -1;
}

bool RigContext::isCameraView(int view) const {
    const int index = cameraIndexOfView(view);
    return index >= 0 && index < numberOfCameras();
}

int RigContext::viewOfCamera(int camera) const {
    for (int v : m_views.cameraViews())
        if (cameraIndexOfView(v) == camera) return v;
    return -1;
}

int RigContext::panoramaView(int i) const {
    static const char* kNames[] = {"main", "left", "right"};
    if (i < 0 || i > 2) return -1;
    const int v = Views::find(kNames[i]);
    return v >= 0 ? v : Views::find("main");
}

int RigContext::mainOutputView() const {
    const int main = Views::find("main");
    return main >= 0 ? main : Views::find("left");
}

Matrix3 RigContext::rigRotationMatrix() const {
    const double k = M_PI / 180.0;
    return Matrix3::rotationZXY(m_rotation.x() * k, m_rotation.y() * k, m_rotation.z() * k);
}

Format RigContext::cameraFormat(int camera) const {
    if (camera < 0 || camera >= numberOfCameras()) return Format();
    const CameraDefinition& c = m_rig.getCamera(camera);
    if (c.getFormatWidth() <= 0 || c.getFormatHeight() <= 0) return Format();
    return Format(c.getFormatWidth(), c.getFormatHeight(), c.getPixelAspect());
}

std::vector<SphericalTransform> RigContext::cameraTransforms(double convergenceDepth) const {
    std::vector<SphericalTransform> transforms;
    transforms.reserve(size_t(numberOfCameras()));
    for (int c = 0; c < numberOfCameras(); ++c) {
        transforms.emplace_back(m_rig.getCamera(c));
        if (std::isfinite(convergenceDepth) && convergenceDepth > 0.0)
            transforms.back().setConvergenceDepth(convergenceDepth);
    }
    return transforms;
}

}  // namespace Research
}  // namespace Korvane
