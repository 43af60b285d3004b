// SPDX-License-Identifier: Apache-2.0
// The small rendered rig (RenderedRig.h) as a multi-view source operator with its rig in the
// metadata, served as views cam1 .. cam4 (one camera a view, its whole file, or all four
// cameras side by side in one file shared by every view).
#pragma once

#include <set>
#include <string>

#include "external/RigLibrary.h"
#include "px/image/Iop.h"
#include "px/image/Node.h"

namespace NodeTests {

/// Views in `missing` fail. With `latlong`, the rig's cameras are latlong and each view is the
/// panorama from the rig centre (512 x 256), black where its camera does not see.
class RenderedRigSource : public PX::Image::PlanarIop {
public:
    explicit RenderedRigSource(PX::Image::Node* node) : PX::Image::PlanarIop(node) {
        setRig(false);
    }

    /// With `sideBySideCameras`, every view is one 1280 x 240 file holding the four cameras
    /// left to right, and the rig gives each camera its crop window of it.
    void setRig(bool latlongCameras, bool sideBySideCameras = false);
    /// Moves camera `camera`'s crop window (the rig is published again).
    void setCropWindow(int camera, int x, int y);
    /// Drops the rig's links (make_rig's rigs record them; a hand-written rig file often
    /// does not).
    void dropLinks();

    const char* Class() const override { return "RenderedRigSource"; }
    int minimum_inputs() const override { return 0; }
    int maximum_inputs() const override { return 0; }
    PX::Image::MetaData::Bundle _fetchMetaData(const std::string&) override { return m_bundle; }
    void _validate(bool) override;
    void renderPlane(PX::Image::ImagePlane& plane) override;

    std::set<std::string> missing;
    bool latlong = false;
    bool sideBySide = false;

private:
    void publish();
    void renderCamera(PX::Image::ImagePlane& plane, int camera, int left);
    void renderPanorama(PX::Image::ImagePlane& plane, int camera);

    Korvane::Research::CameraRigDefinition m_rig;
    PX::Image::MetaData::Bundle m_bundle;
};

}  // namespace NodeTests
