// SPDX-License-Identifier: Apache-2.0
#include "viewer/ViewNavigationKnobs.h"

#include <algorithm>
#include <cmath>

#include "px/image/ArrayKnob.h"
#include "px/image/ButtonKnob.h"
#include "px/image/EnumerationKnob.h"
#include "px/image/KnobCallback.h"
#include "px/image/Op.h"
#include "px/image/PlainKnob.h"
#include "viewer/MouseRotateKnob.h"
#include "viewer/MouseZoomKnob.h"
#include "viewer/ToggleProjectionEventHandlerKnob.h"

namespace Korvane {
namespace Research {

using namespace PX::Image;

void ViewNavigationKnobs::knobs(KnobCallback& f) {
    f.make<PlainKnob>("outputInteraction", "")->set_flag(Knob::INVISIBLE);
    m_rotate = static_cast<MouseRotateKnob*>(f.add(std::make_unique<MouseRotateKnob>(f.node())));
    m_zoom = static_cast<MouseZoomKnob*>(f.add(std::make_unique<MouseZoomKnob>(f.node())));
    m_rotate->setViewFilter(m_isPanoramaView);
    m_zoom->setViewFilter(m_isPanoramaView);
    f.add(std::make_unique<ToggleProjectionEventHandlerKnob>(f.node()));
    Knob* k =
        f.make<EnumerationKnob>("projectionType",
                                "Projection",
                                std::vector<std::string>{"Rectilinear", "Fisheye", "Spherical"},
                                &m_projectionType);
    k->set_flag(Knob::INVISIBLE);
    ArrayKnob* sensor = Array_knob(f, m_sensorSize, 2, "sensorSize", "Sensor");
    sensor->setClassName("XY_Knob");
    sensor->set_flag(Knob::INVISIBLE);
    ArrayKnob* angles = Array_knob(f, m_rotationAngles, 3, "rotationAngles", "Rotation");
    angles->setClassName("XYZ_Knob");
    angles->setRange(-180, 180);
    angles->tooltip("Set the Euler rotation angles (ZXY).");
    angles->set_flag(Knob::INVISIBLE);
    k = f.make<ButtonKnob>("resetRotationAngles", " Reset ");
    k->tooltip("Reset rotation.");
    k->set_flag(Knob::INVISIBLE);
    k = f.make<EnumerationKnob>("rotationOrder",
                                "Rotation Order",
                                std::vector<std::string>{"XYZ", "XZY", "YXZ", "YZX", "ZXY", "ZYX"},
                                &m_rotationOrder);
    k->set_flag(Knob::INVISIBLE);
    k = Double_knob(f, &m_focalLength, "focalLength", "Focal");
    k->tooltip("Set the focal length for projection.");
    k->set_flag(Knob::INVISIBLE);
}

int ViewNavigationKnobs::knob_changed(Knob* knob) {
    if (knob->name() != "resetRotationAngles") return 0;
    if (auto* angles = dynamic_cast<ArrayKnob*>(m_node->knob("rotationAngles"))) {
        angles->add_to_undo();
        for (int i = 0; i < 3; ++i) angles->set_value(0.0, i);
        angles->stop_add_to_undo();
        angles->changed();
    }
    return 1;
}

void ViewNavigationKnobs::appendHash(Hash& hash) const {
    if (m_rotate) m_rotate->append(hash, nullptr);
    if (m_zoom) m_zoom->append(hash, nullptr);
}

Quaternion ViewNavigationKnobs::eulerQuaternion(const double degrees[3], int order) {
    static const char* kOrders[] = {"XYZ", "XZY", "YXZ", "YZX", "ZXY", "ZYX"};
    const char* axes = kOrders[std::clamp(order, 0, 5)];
    Quaternion q;
    for (int i = 0; i < 3; ++i) {
        const int axis = axes[i] - 'X';
        const double radians = degrees[axis] * M_PI / 180.0;
        const Quaternion r = Quaternion::fromAxisAngle(axis == 0, axis == 1, axis == 2, radians);
        q = r * q;  // later axes act after the earlier ones
    }
    return q;
}

Quaternion ViewNavigationKnobs::viewRotation() const {
    if (!m_rotate) return Quaternion();
    // The live knobs: the rotation is asked for on the main thread between stores.
    double angles[3] = {m_rotationAngles[0], m_rotationAngles[1], m_rotationAngles[2]};
    if (auto* k = dynamic_cast<ArrayKnob*>(m_node->knob("rotationAngles")))
        for (int i = 0; i < 3; ++i) angles[i] = k->get_value(i);
    int order = m_rotationOrder;
    if (auto* k = dynamic_cast<EnumerationKnob*>(m_node->knob("rotationOrder"))) order = k->value();
    const Quaternion e = eulerQuaternion(angles, order);
    return e.inverse() * m_rotate->rotation().inverse();
}

void ViewNavigationKnobs::setProjection(Projection projection) {
    m_projectionType = int(projection);
    if (auto* k = dynamic_cast<EnumerationKnob*>(m_node->knob("projectionType")))
        k->set_value(int(projection));
}

void ViewNavigationKnobs::setRotationAngles(double x, double y, double z) {
    const double angles[3] = {x, y, z};
    auto* k = dynamic_cast<ArrayKnob*>(m_node->knob("rotationAngles"));
    for (int i = 0; i < 3; ++i) {
        m_rotationAngles[i] = angles[i];
        if (k) k->set_value(angles[i], i);
    }
}

bool ViewNavigationKnobs::isViewKnob(const std::string& name) {
    static const char* const kNames[] = {"mouseRotate",
                                         "mouseZoom",
                                         "projectionType",
                                         "sensorSize",
                                         "rotationAngles",
                                         "rotationOrder",
                                         "focalLength",
                                         "rectilinearProjection"};
    for (const char* n : kNames)
        if (name == n) return true;
    return false;
}

void ViewNavigationKnobs::resetRotation() {
    if (m_rotate) m_rotate->setRotation(Quaternion());
    setRotationAngles(0.0, 0.0, 0.0);
}

void ViewNavigationKnobs::centreOn(double dx, double dy, double dz) {
    const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (!(length > 0.0)) return;
    dx /= length, dy /= length, dz /= length;
    int order = m_rotationOrder;
    if (auto* k = dynamic_cast<EnumerationKnob*>(m_node->knob("rotationOrder"))) order = k->value();
    // The Euler rotation e must carry +Z onto the direction (the view rotation is e^-1). With
    // no roll, e is a pitch about X and a yaw about Y; which one acts first depends on the
    // order, and so does the closed form. Both forms, with either sign of the pitch, are tried
    // and the one that reproduces the direction is kept.
    const double degrees = 180.0 / M_PI;
    const double yawFirstPitch[2] = {std::atan2(dy, std::hypot(dx, dz)),
                                     -std::atan2(dy, std::hypot(dx, dz))};
    double best[3] = {0, 0, 0};
    double bestError = HUGE_VAL;
    for (int form = 0; form < 2; ++form) {
        for (int sign = 0; sign < 2; ++sign) {
            double pitch, yaw;
            if (form == 0) {  // pitch acts first, then yaw
                pitch = yawFirstPitch[sign];
                yaw = std::atan2(dx, dz);
            } else {  // yaw acts first, then pitch
                yaw = std::asin(std::clamp(dx, -1.0, 1.0));
                pitch = sign == 0 ? std::atan2(dy, dz) : -std::atan2(dy, dz);
            }
            const double angles[3] = {pitch * degrees, yaw * degrees, 0.0};
            const Matrix3 m = eulerQuaternion(angles, order).matrix();
            const double ex = m(0, 2) - dx, ey = m(1, 2) - dy, ez = m(2, 2) - dz;
            const double error = ex * ex + ey * ey + ez * ez;
            if (error < bestError) {
                bestError = error;
                std::copy(angles, angles + 3, best);
            }
        }
    }
    if (m_rotate) m_rotate->setRotation(Quaternion());
    setRotationAngles(best[0], best[1], best[2]);
}

double ViewNavigationKnobs::zoomedFocalLength() const {
    const double zoom = m_zoom ? m_zoom->zoom() : 0.0;
    if (zoom == 0.0) return m_focalLength;
    const double s = m_sensorSize[0];
    const double theta =
        std::clamp(2.0 * std::atan2(s, m_focalLength) * std::pow(2.0, -zoom), 0.001, 6.276902);
    return std::max(0.0, s / std::tan(theta / 2.0));
}

}  // namespace Research
}  // namespace Korvane
