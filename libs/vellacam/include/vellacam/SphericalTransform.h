// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <Eigen/Core>

#include "vellacam/CameraDefinition.h"
#include "vellacam/RadialDistortion.h"

namespace Korvane {
namespace Research {

/// Point projections between one camera's image, the rig frame and "ideal" images.
/// Frames and units are those of CameraDefinition: image pixels from the bottom-left corner
/// with y up and pixel centres at +0.5; rig frame in metres, +X right, +Y up, +Z forward,
/// origin at the rig centre.
///
/// Image to ray: remove the centre shift, scale y by 1 / pixelAspect (square pixels), undo the
/// radial distortion (when the undistort flag is set), then apply the inverse lens of the
/// camera's projection, and rotate by getCameraToWorldRotation(). Ray to image is the exact
/// reverse. An image position has an image only inside [0, width] x [0, height].
///
/// The convergence sphere, centred on the rig centre with the convergence depth as radius,
/// stands in for the unknown scene depth: ProjectToWorld places a pixel where its ray, cast
/// from the camera position, meets that sphere. The ideal latlong image (type Latlong) is the
/// equirectangular image of that point's direction seen from the rig centre, in the output
/// image size: longitude -180..180 degrees over x in [0, width] (0 at the centre, looking
/// along +Z), latitude -90..90 degrees over y in [0, height]. For a perfect rig, a scene point
/// at exactly the convergence depth therefore has the same ideal latlong position in every
/// camera that sees it. Ideal images of types Rectilinear and Fisheye are the camera's own
/// view through a distortion-free lens of that type with the camera's focal length, format and
/// pixel aspect, centred (no shift), in camera orientation; they are not clipped to the frame.
///
/// Every Project* call returns false and leaves its output untouched when the point has no
/// image: outside the frame, behind a rectilinear camera, beyond the range where the lens
/// polynomial is monotonic, on a ray that misses the convergence sphere (a camera outside
/// it), or for a camera definition that cannot project (see isValid()).
/// The object is immutable apart from its two setters; const calls may run on many threads.
class SphericalTransform {
public:
    /// Convergence depth in metres until setConvergenceDepth is called.
    static constexpr double kDefaultConvergenceDepth = 10.0;

    /// A transform that projects nothing.
    SphericalTransform() : SphericalTransform(CameraDefinition()) {}
    /// The output image size starts as the camera's format.
    explicit SphericalTransform(const CameraDefinition& camera);

    /// Size in pixels of the ideal latlong image. Throws std::invalid_argument unless both are
    /// positive.
    void setOutputImageSize(int width, int height);
    int getOutputWidth() const { return m_outputWidth; }
    int getOutputHeight() const { return m_outputHeight; }

    /// Radius in metres of the convergence sphere. Throws std::invalid_argument unless it is
    /// positive and finite.
    void setConvergenceDepth(double metres);
    double getConvergenceDepth() const { return m_convergenceDepth; }

    const CameraDefinition& getCamera() const { return m_camera; }
    /// A copy whose camera has its focal length scaled by `focalScale` and its centre shift
    /// moved by `centreOffset` pixels; cheaper than a new transform (the lens polynomial is
    /// kept), for solvers that vary the lens.
    SphericalTransform withLens(double focalScale, const Eigen::Vector2d& centreOffset) const;
    /// False when the camera has no format, a pixel aspect, focal length (rectilinear and
    /// fisheye) or sensor width that is not positive, or an unusable distortion polynomial.
    bool isValid() const { return m_valid; }
    const Eigen::Matrix3d& getCameraToWorldRotation() const { return m_cameraToWorld; }
    Eigen::Matrix3d getWorldToCameraRotation() const { return m_cameraToWorld.transpose(); }

    /// Image of the rig-frame point `world` (metres).
    bool ProjectFromWorld(const Eigen::Vector3d& world, Eigen::Vector2d* image) const;
    /// The point on the convergence sphere along the ray of `image`.
    bool ProjectToWorld(const Eigen::Vector2d& image, Eigen::Vector3d* world) const;
    /// Position of `image` in the ideal image of projection `type`.
    bool ProjectToIdeal(const Eigen::Vector2d& image,
                        ProjectionTypeEnum type,
                        Eigen::Vector2d* ideal) const;
    /// Inverse of ProjectToIdeal; for Latlong, the image of the point of the convergence sphere
    /// in the direction of `ideal`, which must lie inside the output image.
    bool ProjectFromIdeal(const Eigen::Vector2d& ideal,
                          ProjectionTypeEnum type,
                          Eigen::Vector2d* image) const;

private:
    /// Unit ray in the camera frame.
    bool imageToRay(const Eigen::Vector2d& image, Eigen::Vector3d* ray) const;
    bool rayToImage(const Eigen::Vector3d& ray, Eigen::Vector2d* image) const;
    bool latlongToDirection(const Eigen::Vector2d& ideal, Eigen::Vector3d* direction) const;
    Eigen::Vector2d directionToLatlong(const Eigen::Vector3d& direction) const;

    CameraDefinition m_camera;
    RadialDistortion m_distortion;
    Eigen::Matrix3d m_cameraToWorld;
    int m_outputWidth;
    int m_outputHeight;
    double m_convergenceDepth = kDefaultConvergenceDepth;
    bool m_valid;
    double m_focalPixels;      ///< focal length in horizontal pixels
    double m_distortionUnit;   ///< half the smaller image side, in horizontal pixels
    Eigen::Vector2d m_centre;  ///< optical centre in image pixels
};

}  // namespace Research
}  // namespace Korvane
