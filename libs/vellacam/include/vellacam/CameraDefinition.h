// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include <Eigen/Core>

namespace Korvane {
namespace Research {

/// Lens projection of a camera image. The values are stable: they are stored in metadata and
/// passed to the projection kernels as integers.
enum class ProjectionTypeEnum : int {
    Rectilinear = 0,  ///< pinhole: image radius = f * tan(theta)
    Fisheye = 1,      ///< equidistant: image radius = f * theta
    Latlong = 2,      ///< equirectangular: x linear in longitude, y linear in latitude
};

/// True for 0, 1 and 2; used when a projection type arrives as an integer.
bool isProjectionType(int value);

/// One camera of a rig, as recorded by the rig solver.
///
/// Frames and units, shared by the whole rig library:
/// - The rig frame ("world") has its origin at the rig centre, +X right, +Y up, +Z forward
///   (a left-handed frame). Camera positions are in metres in this frame.
/// - A camera looks along its own +Z with +X to the right of the image and +Y up.
/// - Rotations are Euler angles (rx, ry, rz) in degrees, applied in the order Z, X, Y about
///   the fixed axes: cameraToWorld = Ry(ry) * Rx(rx) * Rz(rz), each the textbook matrix
///   (Rx = [1 0 0; 0 c -s; 0 s c], Ry = [c 0 s; 0 1 0; -s 0 c], Rz = [c -s 0; s c 0; 0 0 1]).
///   So a positive ry pans the optical axis from +Z toward +X, a positive rx tilts it toward
///   -Y, and a positive rz rolls the image's +X toward +Y.
/// - Image positions are in pixels, origin at the bottom-left corner of the image, x right and
///   y up; the centre of pixel (i, j) is (i + 0.5, j + 0.5). A pixel is pixelAspect times as
///   wide as it is tall.
/// - Focal length and sensor size are in millimetres. The sensor width spans the image width;
///   the vertical scale follows from the pixel aspect, so the sensor height is recorded but
///   does not enter the projection.
/// - Centre shift is the offset, in pixels (x right, y up), of the optical centre from the
///   image centre.
/// - Distortion (a, b, c) is the radial polynomial r_image = r * (a r^3 + b r^2 + c r + d),
///   d = 1 - a - b - c, where r is the distortion-free radius about the optical centre in
///   units of half the smaller image side (measured in horizontal pixels). It is applied only
///   when the undistort flag is set; a cleared flag means the footage is already free of
///   lens distortion.
/// A default definition has no format and so projects nothing.
class CameraDefinition {
public:
    int getFormatWidth() const { return m_formatWidth; }
    int getFormatHeight() const { return m_formatHeight; }
    double getPixelAspect() const { return m_pixelAspect; }
    void setFormat(int width, int height, double pixelAspect = 1.0);

    ProjectionTypeEnum getProjection() const { return m_projection; }
    void setProjection(ProjectionTypeEnum projection) { m_projection = projection; }

    /// Millimetres.
    double getFocalLength() const { return m_focalLength; }
    void setFocalLength(double millimetres) { m_focalLength = millimetres; }

    /// Width and height in millimetres.
    const Eigen::Vector2d& getSensorSize() const { return m_sensorSize; }
    void setSensorSize(const Eigen::Vector2d& millimetres) { m_sensorSize = millimetres; }

    /// Horizontal field of view in degrees, derived from the focal length, the sensor width and
    /// the projection (360 for latlong). 0 when the focal length is not positive.
    double getFieldOfView() const;
    /// Sets the focal length that gives this horizontal field of view with the current sensor
    /// width and projection. Ignored for latlong, whose field of view is fixed.
    void setFieldOfView(double degrees);

    /// Pixels, x right and y up.
    const Eigen::Vector2d& getCentreShift() const { return m_centreShift; }
    void setCentreShift(const Eigen::Vector2d& pixels) { m_centreShift = pixels; }

    /// (a, b, c) of the radial polynomial.
    const Eigen::Vector3d& getDistortion() const { return m_distortion; }
    void setDistortion(const Eigen::Vector3d& abc) { m_distortion = abc; }

    bool getUndistort() const { return m_undistort; }
    void setUndistort(bool undistort) { m_undistort = undistort; }

    /// Metres, rig frame.
    const Eigen::Vector3d& getPosition() const { return m_position; }
    void setPosition(const Eigen::Vector3d& metres) { m_position = metres; }

    /// Degrees (rx, ry, rz), order ZXY as above.
    const Eigen::Vector3d& getRotation() const { return m_rotation; }
    void setRotation(const Eigen::Vector3d& degrees) { m_rotation = degrees; }

    /// Maps directions from the camera frame into the rig frame.
    Eigen::Matrix3d getCameraToWorldRotation() const;
    /// Sets the Euler angles that reproduce `rotation` (a proper rotation matrix). At the
    /// gimbal lock (rx = +-90 degrees) the roll is folded into the pan and rz is 0.
    void setCameraToWorldRotation(const Eigen::Matrix3d& rotation);

    /// The valid area of a lens whose image is a circle (circular fisheyes): outside it is the
    /// lens housing, not picture. Centre in image pixels (bottom-left origin, y up), radius in
    /// pixels; a radius of 0 means no circle (the whole frame is picture). A circle reaching
    /// past the frame is clipped by it: a position is picture where it lies in both.
    bool hasImageCircle() const { return m_circleRadius > 0.0; }
    const Eigen::Vector2d& getImageCircleCentre() const { return m_circleCentre; }
    double getImageCircleRadius() const { return m_circleRadius; }
    void setImageCircle(const Eigen::Vector2d& centre, double radius) {
        m_circleCentre = centre;
        m_circleRadius = radius > 0.0 ? radius : 0.0;
    }
    /// True when `image` lies inside the frame [0, width] x [0, height] and inside the image
    /// circle, if there is one.
    bool isPicture(const Eigen::Vector2d& image) const;

    /// Where the camera's image lies in the footage it comes from, for cameras that share one
    /// file (dual-fisheye cameras record both lenses side by side): the pixel offset of the
    /// image's bottom-left corner in the file (x right, y up); the image is the format's size
    /// from there. Without a window the footage is the camera's image. Every image position of
    /// the camera is in its own image, not in the file.
    bool hasCropWindow() const { return m_hasCropWindow; }
    const Eigen::Vector2i& getCropWindowOffset() const { return m_cropOffset; }
    void setCropWindow(const Eigen::Vector2i& offset) {
        m_cropOffset = offset;
        m_hasCropWindow = true;
    }
    void clearCropWindow() {
        m_cropOffset = Eigen::Vector2i::Zero();
        m_hasCropWindow = false;
    }

    /// A disabled camera stays in the rig but is left out of stitching.
    bool getEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

    /// Name of the host view that carries this camera's footage, e.g. "cam1".
    const std::string& getOutputView() const { return m_outputView; }
    void setOutputView(const std::string& view) { m_outputView = view; }

    bool operator==(const CameraDefinition& o) const;
    bool operator!=(const CameraDefinition& o) const { return !(*this == o); }

private:
    int m_formatWidth = 0;
    int m_formatHeight = 0;
    double m_pixelAspect = 1.0;
    ProjectionTypeEnum m_projection = ProjectionTypeEnum::Rectilinear;
    double m_focalLength = 0.0;
    Eigen::Vector2d m_sensorSize{36.0, 24.0};
    Eigen::Vector2d m_centreShift = Eigen::Vector2d::Zero();
    Eigen::Vector3d m_distortion = Eigen::Vector3d::Zero();
    bool m_undistort = true;
    Eigen::Vector3d m_position = Eigen::Vector3d::Zero();
    Eigen::Vector3d m_rotation = Eigen::Vector3d::Zero();
    Eigen::Vector2d m_circleCentre = Eigen::Vector2d::Zero();
    double m_circleRadius = 0.0;
    Eigen::Vector2i m_cropOffset = Eigen::Vector2i::Zero();
    bool m_hasCropWindow = false;
    bool m_enabled = true;
    std::string m_outputView;
};

}  // namespace Research
}  // namespace Korvane
