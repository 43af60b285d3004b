// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <set>
#include <string>

#include <Eigen/Core>

#include "px/image/MetaData.h"
#include "vellacam/CameraRigDefinition.h"

namespace Korvane {
namespace Research {

/// Reads and edits the rig carried in an image stream's metadata bundle. The keys all start
/// with kKeyPrefix and are listed in the library's README; cameras are numbered from 1 in the
/// keys ("vellacam/cam1/...") and indexed from 0 in this interface.
///
/// Units follow CameraDefinition: metres for positions, the diameter and the convergence
/// depth, degrees (order ZXY) for rotations. The rig position and rotation place the rig in
/// the scene; camera positions and rotations are relative to the rig.
///
/// updateMetaDataBundle parses the whole rig first and changes nothing when it throws. Setters
/// rewrite every rig key of the held bundle, so getMetaDataBundle() always carries the rig the
/// getters report; keys of other owners pass through untouched.
class MetaDataHandler {
public:
    static constexpr const char* kKeyPrefix = "vellacam/";
    /// Convergence depth (metres) reported for a bundle that records none.
    static constexpr double kDefaultConvergence = 10.0;

    /// Takes `bundle` as the current metadata. A bundle without "vellacam/cameras" holds a rig
    /// of no cameras. Throws RigError naming the key when a rig key holds the wrong kind or
    /// count of values.
    void updateMetaDataBundle(const PX::Image::MetaData::Bundle& bundle);
    const PX::Image::MetaData::Bundle& getMetaDataBundle() const { return m_bundle; }

    int getNumberCameras() const { return m_rig.getNumberCameras(); }
    /// A copy; throws std::out_of_range for a bad index.
    CameraDefinition getCamera(int index) const { return m_rig.getCamera(index); }
    const std::set<int>& getLinks(int index) const { return m_rig.getLinks(index); }
    const CameraRigDefinition& getRig() const { return m_rig; }
    double getRigDiameter() const { return m_rig.getRigDiameter(); }
    const Eigen::Vector3d& getRigPosition() const { return m_position; }
    const Eigen::Vector3d& getRigRotation() const { return m_rotation; }
    double getRigConvergence() const { return m_convergence; }

    /// Replaces camera `index` (0-based, must exist).
    void setCamera(int index, const CameraDefinition& camera);
    /// Replaces cameras, links and diameter.
    void setRig(const CameraRigDefinition& rig);
    void setRigDiameter(double metres);
    void setRigPosition(const Eigen::Vector3d& metres);
    void setRigRotation(const Eigen::Vector3d& degrees);
    void setRigConvergence(double metres);

    /// Removes every rig key from `bundle`.
    static void eraseRigKeys(PX::Image::MetaData::Bundle* bundle);

private:
    void writeRigKeys();

    PX::Image::MetaData::Bundle m_bundle;
    CameraRigDefinition m_rig;
    Eigen::Vector3d m_position = Eigen::Vector3d::Zero();
    Eigen::Vector3d m_rotation = Eigen::Vector3d::Zero();
    double m_convergence = kDefaultConvergence;
};

}  // namespace Research
}  // namespace Korvane
