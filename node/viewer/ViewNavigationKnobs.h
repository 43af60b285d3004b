// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string>

#include "px/image/Matrix3.h"
#include "px/image/Quaternion.h"

namespace PX {
namespace Image {
class Hash;
class Knob;
class KnobCallback;
class Op;
}  // namespace Image
}  // namespace PX

namespace Korvane {
namespace Research {

class MouseRotateKnob;
class MouseZoomKnob;

/// The virtual camera through which the panorama views are looked at: the mouse rotation and
/// zoom, the view projection ("Rectilinear", "Fisheye", "Spherical"), sensor, Euler rotation
/// angles in a chosen order, and focal length. All of it is saved, hashed and kept out of the
/// panel.
class ViewNavigationKnobs {
public:
    enum class Projection { Rectilinear = 0, Fisheye = 1, Spherical = 2 };

    explicit ViewNavigationKnobs(PX::Image::Op* node) : m_node(node) {}
    /// The mouse knobs take viewer events only in the views for which `test` answers true
    /// (the panorama output views); set before knobs().
    void setPanoramaViewTest(std::function<bool(int view)> test) { m_isPanoramaView = test; }
    void knobs(PX::Image::KnobCallback& f);
    /// " Reset " of the rotation angles; 1 when handled.
    int knob_changed(PX::Image::Knob* knob);
    void appendHash(PX::Image::Hash& hash) const;

    /// (m * e)^-1: m the mouse rotation, e the quaternion of the Euler angles in their order.
    /// The identity without the mouse knob.
    PX::Image::Quaternion viewRotation() const;
    PX::Image::Matrix3 viewRotationMatrix() const { return viewRotation().matrix(); }
    /// The focal length after zoom: theta = 2 atan2(s, f) 2^-zoom clamped to [0.001, 6.276902],
    /// f' = max(0, s / tan(theta / 2)).
    double zoomedFocalLength() const;
    Projection projection() const { return Projection(m_projectionType); }
    /// Sensor width and height of the virtual camera, millimetres.
    double sensorWidth() const { return m_sensorSize[0]; }
    double sensorHeight() const { return m_sensorSize[1]; }
    /// True for the knobs that only say how the panorama is looked at (rotation, zoom,
    /// projection and the virtual camera), which a cached panorama does not depend on.
    static bool isViewKnob(const std::string& name);

    // Setters of the live knobs; like every value the node sets, they bring no knob_changed.
    void setProjection(Projection projection);
    void setRotationAngles(double x, double y, double z);
    /// No rotation at all: the Euler angles and the mouse rotation.
    void resetRotation();
    /// Turns the view so that the rig-frame direction (dx, dy, dz) lies at the centre of the
    /// panorama: the mouse rotation becomes the identity and the Euler angles (in the current
    /// order, no roll) bring the direction onto +Z.
    void centreOn(double dx, double dy, double dz);

    /// The quaternion of Euler angles (degrees) applied in `order` (0 "XYZ" .. 5 "ZYX"; the
    /// first letter is applied first, as in the ZXY decomposition of rotation matrices).
    static PX::Image::Quaternion eulerQuaternion(const double degrees[3], int order);

private:
    PX::Image::Op* m_node;
    std::function<bool(int)> m_isPanoramaView;
    MouseRotateKnob* m_rotate = nullptr;
    MouseZoomKnob* m_zoom = nullptr;
    int m_projectionType = 2;
    double m_sensorSize[2] = {36.0, 24.0};
    double m_rotationAngles[3] = {0, 0, 0};
    int m_rotationOrder = 4;
    double m_focalLength = 16.0;
};

}  // namespace Research
}  // namespace Korvane
