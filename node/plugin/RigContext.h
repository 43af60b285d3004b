// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "external/RigLibrary.h"
#include "plugin/MultiViewManager.h"
#include "px/image/Format.h"
#include "px/image/Hash.h"
#include "px/image/Matrix3.h"

namespace PX {
namespace Image {
class Op;
}
}  // namespace PX

namespace Korvane {
namespace Research {

/// The rig as the node sees it: the rig definition read from the input metadata, the camera
/// views chosen by the MultiViewManager, and the panorama output views.
///
/// Views: "main" (and "left"/"right" for stereo) are panorama output views; "camN" (with an
/// optional suffix) is the view of camera N, camera indices being N - 1. A camera view is a
/// view whose camera number lies in 1..number of cameras.
class RigContext {
public:
    explicit RigContext(PX::Image::Op* node);

    void knobs(PX::Image::KnobCallback& f) { m_views.knobs(f); }
    int knob_changed(PX::Image::Knob* knob) { return m_views.knob_changed(knob); }
    MultiViewManager* multiViewManager() { return &m_views; }
    const MultiViewManager* multiViewManager() const { return &m_views; }

    /// Reads the rig again from the metadata of graph input 0. With `onlyOnChange`, nothing
    /// happens while the rig's camera count equals the number of camera views.
    void reloadRig(bool onlyOnChange);

    bool isPanoramaView(int view) const;
    bool isCameraView(int view) const;
    /// The 0-based camera index of a view named "camN", -1 otherwise.
    int cameraIndexOfView(int view) const;
    /// The camera view whose camera number is `camera` + 1, -1 when there is none.
    int viewOfCamera(int camera) const;
    int inputIndexOfView(int view) const { return m_views.inputIndexOfView(view); }
    /// "main" when the project has it, else "left"; -1 when neither exists.
    int mainOutputView() const;
    /// Panorama view i (0 main, 1 left, 2 right), falling back to "main".
    int panoramaView(int i) const;

    int numberOfCameras() const { return m_rig.getNumberCameras(); }
    /// The rig the node works with: the source's, refined by the node's "rigCorrection" (Refine
    /// Rig) when that holds a correction for its cameras.
    const CameraRigDefinition& rig() const { return m_rig; }
    /// The source's rig as it came.
    const CameraRigDefinition& inputRig() const { return m_inputRig; }
    /// `rig` refined by the node's "rigCorrection"; `rig` itself when that holds no correction
    /// for its cameras. With `refused`: whether the knob holds text that is no correction for
    /// them (one made for a rig of other cameras, a hand-edited script).
    CameraRigDefinition corrected(const CameraRigDefinition& rig, bool* refused = nullptr) const;
    /// Whether the source's rig was last loaded with a "rigCorrection" that does not fit it
    /// (not applied).
    bool correctionRefused() const { return m_correctionRefused; }
    /// Rotation of the rig (camera-to-world of the rig frame), from its ZXY angles.
    PX::Image::Matrix3 rigRotationMatrix() const;
    double rigConvergence() const { return m_convergence; }
    /// The format recorded for camera c, the empty format when none is.
    PX::Image::Format cameraFormat(int camera) const;
    /// One transform per rig camera, in camera order, each with the given convergence depth
    /// (metres; a depth that is not positive and finite keeps the transform's default) and its
    /// camera's format as output image size.
    std::vector<SphericalTransform> cameraTransforms(double convergenceDepth) const;

    /// Appends the rig state to the node's hash.
    void appendHash(PX::Image::Hash& hash) const { hash.append(m_rigHash); }

private:
    PX::Image::Op* m_node;
    MultiViewManager m_views;
    CameraRigDefinition m_rig;
    CameraRigDefinition m_inputRig;
    bool m_correctionRefused = false;
    Eigen::Vector3d m_rotation = Eigen::Vector3d::Zero();
    double m_convergence = 10.0;
    PX::Image::Hash m_rigHash;
    // The node's own metadata fetch reloads the rig; a reload in progress must not recurse.
    bool m_reloading = false;
};

}  // namespace Research
}  // namespace Korvane
