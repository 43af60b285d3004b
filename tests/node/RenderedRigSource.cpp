// SPDX-License-Identifier: Apache-2.0
#include "RenderedRigSource.h"

#include <algorithm>
#include <cstdlib>

#include "RenderedRig.h"

namespace NodeTests {

using namespace PX::Image;
using namespace Korvane::Research;
using MatchingTests::RenderedRig;

void RenderedRigSource::setRig(bool latlongCameras, bool sideBySideCameras) {
    latlong = latlongCameras;
    sideBySide = sideBySideCameras;
    m_rig = RenderedRig::get().rig;
    for (int c = 0; c < m_rig.getNumberCameras(); ++c) {
        if (latlong) m_rig.getCamera(c).setProjection(ProjectionTypeEnum::Latlong);
        if (sideBySide) m_rig.getCamera(c).setCropWindow(Eigen::Vector2i(320 * c, 0));
    }
    publish();
}

void RenderedRigSource::setCropWindow(int camera, int x, int y) {
    m_rig.getCamera(camera).setCropWindow(Eigen::Vector2i(x, y));
    publish();
}

void RenderedRigSource::dropLinks() {
    for (int a = 0; a < m_rig.getNumberCameras(); ++a)
        for (int b = a + 1; b < m_rig.getNumberCameras(); ++b) m_rig.setLinked(a, b, false);
    publish();
}

void RenderedRigSource::publish() {
    MetaDataHandler handler;
    handler.setRig(m_rig);
    handler.setRigConvergence(5.0);
    m_bundle = handler.getMetaDataBundle();
}

void RenderedRigSource::_validate(bool) {
    const int w = latlong ? 512 : sideBySide ? 4 * 320 : 320, h = latlong ? 256 : 240;
    info_().set(Box(0, 0, w, h));
    info_().format(Format(w, h));
    info_().full_size_format(Format(w, h));
    info_().channels(Mask_RGBA);
    if (missing.count(Views::name(outputContext().view())))
        error("no image for %s", Views::name(outputContext().view()).c_str());
}

void RenderedRigSource::renderPlane(ImagePlane& plane) {
    const std::string view = Views::name(outputContext().view());
    const int camera = view.size() > 3 ? std::atoi(view.c_str() + 3) - 1 : 0;
    if (latlong) return renderPanorama(plane, std::clamp(camera, 0, 3));
    if (!sideBySide) return renderCamera(plane, std::clamp(camera, 0, 3), 0);
    for (int c = 0; c < 4; ++c) renderCamera(plane, c, 320 * c);
}

namespace {

int component(Channel ch) {
    return ch == Chan_Red ? 0 : ch == Chan_Green ? 1 : ch == Chan_Blue ? 2 : 3;
}

}  // namespace

void RenderedRigSource::renderCamera(ImagePlane& plane, int camera, int left) {
    const auto& rgb = RenderedRig::get().views[size_t(camera)].rgb;
    const Box& b = plane.bounds();
    for (int y = std::max(b.y(), 0); y < std::min(b.t(), 240); ++y)
        for (int x = std::max(b.x() - left, 0); x < std::min(b.r() - left, 320); ++x)
            for (Channel ch : plane.channels()) {
                const int c = component(ch);
                *plane.writableAt(left + x, y, plane.chanNo(ch)) =
                    c < 3 ? rgb[(size_t(239 - y) * 320 + size_t(x)) * 3 + size_t(c)] : 1.0f;
            }
}

void RenderedRigSource::renderPanorama(ImagePlane& plane, int camera) {
    CameraDefinition pano;
    pano.setFormat(512, 256);
    pano.setProjection(ProjectionTypeEnum::Latlong);
    SphericalTransform centre(pano);
    centre.setConvergenceDepth(5.0);
    const SphericalTransform own(RenderedRig::get().rig.getCamera(camera));
    const Box& b = plane.bounds();
    for (int y = std::max(b.y(), 0); y < std::min(b.t(), 256); ++y)
        for (int x = std::max(b.x(), 0); x < std::min(b.r(), 512); ++x) {
            Eigen::Vector3d world;
            Eigen::Vector2d image;
            const bool seen = centre.ProjectToWorld(Eigen::Vector2d(x + 0.5, y + 0.5), &world) &&
                              own.ProjectFromWorld(world, &image);
            for (Channel ch : plane.channels()) {
                const int c = component(ch);
                *plane.writableAt(x, y, plane.chanNo(ch)) =
                    !seen   ? 0.0f
                    : c < 3 ? RenderedRig::panorama()
                                  .rgb[(size_t(255 - y) * 512 + size_t(x)) * 3 + size_t(c)]
                            : 1.0f;
            }
        }
}

namespace {
Op* buildSource(Node* node) { return new RenderedRigSource(node); }
const Op::Description kSource("RenderedRigSource", buildSource);
}  // namespace

}  // namespace NodeTests
