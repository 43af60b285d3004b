// SPDX-License-Identifier: Apache-2.0
#include "TestRigSource.h"

#include <cmath>

#include "external/RigLibrary.h"

namespace NodeTests {

using namespace PX::Image;

void TestRigSource::_validate(bool) {
    if (failingViews.count(outputContext().view())) {
        error("cannot read view %d", outputContext().view());
        return;
    }
    auto it = sizeOfView.find(outputContext().view());
    const int w = it == sizeOfView.end() ? width : it->second.first;
    const int h = it == sizeOfView.end() ? height : it->second.second;
    info_().set(Box(0, 0, w, h));
    info_().format(Format(w, h));
    info_().full_size_format(Format(w, h));
    info_().channels(Mask_RGBA);
    info_().first_frame(firstFrame);
    info_().last_frame(lastFrame);
}

void TestRigSource::renderPlane(ImagePlane& plane) {
    const Box& b = plane.bounds();
    const auto bad = nonFiniteAt.find(outputContext().view());
    for (int y = b.y(); y < b.t(); ++y)
        for (int x = b.x(); x < b.r(); ++x) {
            const bool poisoned = bad != nonFiniteAt.end() && bad->second == std::make_pair(x, y);
            for (Channel c : plane.channels()) {
                float v = 1.0f;
                if (c == Chan_Red) v = poisoned ? std::nanf("") : float(outputContext().view());
                if (c == Chan_Green) v = poisoned ? INFINITY : float(x);
                if (c == Chan_Blue) v = float(y);
                *plane.writableAt(x, y, plane.chanNo(c)) = v;
            }
        }
}

void TestRigSource::setRig(int cameras, double rigRotationY, double convergence) {
    using namespace Korvane::Research;
    CameraRigDefinition rig;
    rig.setNumberCameras(cameras);
    for (int c = 0; c < cameras; ++c) {
        CameraDefinition camera;
        camera.setFormat(width, height);
        camera.setProjection(ProjectionTypeEnum::Fisheye);
        camera.setFocalLength(8.0);
        camera.setRotation(Eigen::Vector3d(0, 360.0 * c / cameras, 0));
        camera.setPosition(camera.getCameraToWorldRotation() * Eigen::Vector3d(0, 0, 0.15));
        rig.setCamera(c, camera);
        if (c > 0) rig.setLinked(c - 1, c);
    }
    rig.setRigDiameter(0.3);
    MetaDataHandler handler;
    handler.setRig(rig);
    handler.setRigRotation(Eigen::Vector3d(0, rigRotationY, 0));
    handler.setRigConvergence(convergence);
    bundle = handler.getMetaDataBundle();
}

namespace {
Op* buildSource(Node* node) { return new TestRigSource(node); }
const Op::Description kSource("TestRigSource", buildSource);
}  // namespace

}  // namespace NodeTests
