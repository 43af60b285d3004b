// SPDX-License-Identifier: Apache-2.0
#include "vellacam/SphericalTransform.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "LensGeometry.h"

namespace Korvane {
namespace Research {

namespace {

bool insideFrame(const Eigen::Vector2d& p, double width, double height) {
    return p.x() >= 0.0 && p.x() <= width && p.y() >= 0.0 && p.y() <= height;
}

/// The camera's own lens, in square pixels about the optical centre.
detail::LensGeometry cameraLens(const CameraDefinition& camera, double focalPixels) {
    return detail::LensGeometry(camera.getProjection(),
                                focalPixels,
                                0.5 * camera.getFormatWidth(),
                                0.5 * camera.getFormatHeight() / camera.getPixelAspect());
}

}  // namespace

SphericalTransform::SphericalTransform(const CameraDefinition& camera)
    : m_camera(camera),
      m_distortion(camera.getUndistort() ? camera.getDistortion() : Eigen::Vector3d::Zero()),
      m_cameraToWorld(camera.getCameraToWorldRotation()),
      m_outputWidth(camera.getFormatWidth()),
      m_outputHeight(camera.getFormatHeight()) {
    const double width = camera.getFormatWidth();
    const double height = camera.getFormatHeight();
    const double aspect = camera.getPixelAspect();
    const double sensorWidth = camera.getSensorSize().x();
    const bool needsFocal = camera.getProjection() != ProjectionTypeEnum::Latlong;
    m_valid = width > 0 && height > 0 && aspect > 0.0 && sensorWidth > 0.0 &&
              (!needsFocal || camera.getFocalLength() > 0.0) && m_distortion.isUsable();
    m_focalPixels = camera.getFocalLength() * width / sensorWidth;
    m_distortionUnit = 0.5 * std::min(width, height / aspect);
    m_centre = Eigen::Vector2d(0.5 * width, 0.5 * height) + camera.getCentreShift();
}

SphericalTransform SphericalTransform::withLens(double focalScale,
                                                const Eigen::Vector2d& centreOffset) const {
    SphericalTransform out = *this;
    out.m_camera.setFocalLength(m_camera.getFocalLength() * focalScale);
    out.m_camera.setCentreShift(m_camera.getCentreShift() + centreOffset);
    out.m_focalPixels = m_focalPixels * focalScale;
    out.m_centre = m_centre + centreOffset;
    out.m_valid = m_valid && (m_camera.getProjection() == ProjectionTypeEnum::Latlong ||
                              out.m_camera.getFocalLength() > 0.0);
    return out;
}

void SphericalTransform::setOutputImageSize(int width, int height) {
    if (width <= 0 || height <= 0)
        throw std::invalid_argument("output image size must be positive, got " +
                                    std::to_string(width) + " x " + std::to_string(height));
    m_outputWidth = width;
    m_outputHeight = height;
}

void SphericalTransform::setConvergenceDepth(double metres) {
    if (!(metres > 0.0 && std::isfinite(metres)))
        throw std::invalid_argument("convergence depth must be positive, got " +
                                    std::to_string(metres));
    m_convergenceDepth = metres;
}

bool SphericalTransform::imageToRay(const Eigen::Vector2d& image, Eigen::Vector3d* ray) const {
    if (!m_valid || !m_camera.isPicture(image)) return false;
    const double aspect = m_camera.getPixelAspect();
    Eigen::Vector2d q = image - m_centre;
    q.y() /= aspect;
    if (!m_distortion.isIdentity()) {
        const double r = q.norm() / m_distortionUnit;
        double ideal;
        if (!m_distortion.undistort(r, &ideal)) return false;
        if (r > 0.0) q *= ideal / r;
    }
    const detail::LensGeometry lens = cameraLens(m_camera, m_focalPixels);
    return lens.toRay(q, ray);
}

bool SphericalTransform::rayToImage(const Eigen::Vector3d& ray, Eigen::Vector2d* image) const {
    if (!m_valid) return false;
    const double aspect = m_camera.getPixelAspect();
    const detail::LensGeometry lens = cameraLens(m_camera, m_focalPixels);
    Eigen::Vector2d q;
    if (!lens.fromRay(ray, &q)) return false;
    if (!m_distortion.isIdentity()) {
        const double r = q.norm() / m_distortionUnit;
        double distorted;
        if (!m_distortion.distort(r, &distorted)) return false;
        if (r > 0.0) q *= distorted / r;
    }
    q.y() *= aspect;
    const Eigen::Vector2d p = q + m_centre;
    if (!m_camera.isPicture(p)) return false;
    *image = p;
    return true;
}

bool SphericalTransform::ProjectFromWorld(const Eigen::Vector3d& world,
                                          Eigen::Vector2d* image) const {
    const Eigen::Vector3d local = m_cameraToWorld.transpose() * (world - m_camera.getPosition());
    if (local.squaredNorm() == 0.0) return false;
    return rayToImage(local, image);
}

bool SphericalTransform::ProjectToWorld(const Eigen::Vector2d& image,
                                        Eigen::Vector3d* world) const {
    Eigen::Vector3d ray;
    if (!imageToRay(image, &ray)) return false;
    const Eigen::Vector3d d = m_cameraToWorld * ray;
    const Eigen::Vector3d& c = m_camera.getPosition();
    // |c + t d| = R with |d| = 1: t^2 + 2 (c.d) t + |c|^2 - R^2 = 0; the far root is the one in
    // front of a camera inside the sphere.
    const double cd = c.dot(d);
    const double disc = cd * cd - (c.squaredNorm() - m_convergenceDepth * m_convergenceDepth);
    if (disc < 0.0) return false;
    const double t = -cd + std::sqrt(disc);
    if (!(t > 0.0)) return false;
    *world = c + t * d;
    return true;
}

bool SphericalTransform::latlongToDirection(const Eigen::Vector2d& ideal,
                                            Eigen::Vector3d* direction) const {
    const double halfWidth = 0.5 * m_outputWidth;
    const double halfHeight = 0.5 * m_outputHeight;
    if (!insideFrame(ideal, m_outputWidth, m_outputHeight)) return false;
    const detail::LensGeometry latlong(ProjectionTypeEnum::Latlong, 0.0, halfWidth, halfHeight);
    return latlong.toRay(ideal - Eigen::Vector2d(halfWidth, halfHeight), direction);
}

Eigen::Vector2d SphericalTransform::directionToLatlong(const Eigen::Vector3d& direction) const {
    const double halfWidth = 0.5 * m_outputWidth;
    const double halfHeight = 0.5 * m_outputHeight;
    const detail::LensGeometry latlong(ProjectionTypeEnum::Latlong, 0.0, halfWidth, halfHeight);
    Eigen::Vector2d q;
    latlong.fromRay(direction, &q);  // a latlong sees every non-zero direction
    return q + Eigen::Vector2d(halfWidth, halfHeight);
}

bool SphericalTransform::ProjectToIdeal(const Eigen::Vector2d& image,
                                        ProjectionTypeEnum type,
                                        Eigen::Vector2d* ideal) const {
    if (type == ProjectionTypeEnum::Latlong) {
        Eigen::Vector3d world;
        if (!ProjectToWorld(image, &world)) return false;
        *ideal = directionToLatlong(world);
        return true;
    }
    Eigen::Vector3d ray;
    if (!(m_focalPixels > 0.0) || !imageToRay(image, &ray)) return false;
    const double aspect = m_camera.getPixelAspect();
    const detail::LensGeometry lens(type, m_focalPixels, 0.0, 0.0);
    Eigen::Vector2d q;
    if (!lens.fromRay(ray, &q)) return false;
    q.y() *= aspect;
    *ideal = q + 0.5 * Eigen::Vector2d(m_camera.getFormatWidth(), m_camera.getFormatHeight());
    return true;
}

bool SphericalTransform::ProjectFromIdeal(const Eigen::Vector2d& ideal,
                                          ProjectionTypeEnum type,
                                          Eigen::Vector2d* image) const {
    if (!m_valid) return false;
    if (type == ProjectionTypeEnum::Latlong) {
        Eigen::Vector3d direction;
        if (!latlongToDirection(ideal, &direction)) return false;
        return ProjectFromWorld(m_convergenceDepth * direction, image);
    }
    if (!(m_focalPixels > 0.0)) return false;
    Eigen::Vector2d q =
        ideal - 0.5 * Eigen::Vector2d(m_camera.getFormatWidth(), m_camera.getFormatHeight());
    q.y() /= m_camera.getPixelAspect();
    const detail::LensGeometry lens(type, m_focalPixels, 0.0, 0.0);
    Eigen::Vector3d ray;
    if (!lens.toRay(q, &ray)) return false;
    return rayToImage(ray, image);
}

}  // namespace Research
}  // namespace Korvane
