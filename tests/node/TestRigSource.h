// SPDX-License-Identifier: Apache-2.0
// A multi-view source for the node tests: every view is a small image whose pixels tell the
// view and the position (red = view number, green = x, blue = y, alpha = 1), and the stream
// carries a rig of N fisheye cameras in its metadata.
#pragma once

#include <map>
#include <set>

#include "NodeFixture.h"
#include "px/image/Iop.h"
#include "px/image/Node.h"

namespace NodeTests {

class TestRigSource : public PX::Image::PlanarIop {
public:
    explicit TestRigSource(PX::Image::Node* node) : PX::Image::PlanarIop(node) {}
    const char* Class() const override { return "TestRigSource"; }
    int minimum_inputs() const override { return 0; }
    int maximum_inputs() const override { return 0; }
    void _validate(bool) override;
    void renderPlane(PX::Image::ImagePlane& plane) override;
    PX::Image::MetaData::Bundle _fetchMetaData(const std::string&) override { return bundle; }

    /// A rig of `cameras` fisheye cameras around the horizon, rotated by `rigRotation` degrees.
    void setRig(int cameras, double rigRotationY = 0.0, double convergence = 4.0);

    PX::Image::MetaData::Bundle bundle;
    int width = 8, height = 6;
    int firstFrame = 1, lastFrame = 1;
    /// Views whose image has another size.
    std::map<int, std::pair<int, int>> sizeOfView;
    /// Per view, a pixel whose red is NaN and whose green is infinite (footage as it comes).
    std::map<int, std::pair<int, int>> nonFiniteAt;
    /// Views whose image cannot be read: their validation is a node error, as a missing file's.
    std::set<int> failingViews;
};

/// A node of the plug-in fed by a TestRigSource of `cameras` cameras.
struct RigFixture : NodeFixture<TestRigSource> {
    explicit RigFixture(const std::vector<std::string>& views, int cameras = 3)
        : NodeFixture(views, "TestRigSource", [cameras](TestRigSource& s) { s.setRig(cameras); }) {}
};

}  // namespace NodeTests
