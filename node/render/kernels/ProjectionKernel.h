// SPDX-License-Identifier: Apache-2.0
// The projection kernel: the position image of every projection functor.
//
// One image: the positions (2 float; the output), signature "2f", launched explicitly with
// flags 19. For each destination pixel centre it writes the source position to show there
// (PositionImage.h), or kNoSample.
//
// Two sides take part. The camera side is one camera's image: its lens (0 rectilinear,
// 1 fisheye equidistant, 2 or 3 latlong), focal length, pixel aspect, centre shift, radial
// distortion, rotation and position, exactly as the rig library's SphericalTransform projects
// it. The other side is either the equirectangular panorama of the rig frame, seen from the
// parallax origin (types 2 and 3: longitude -180..180 degrees across, 0 looking along +Z,
// latitude -90..90 bottom to top), or an ideal image of the camera itself through a
// distortion-free lens of type 0 or 1, centred, with the converted focal length, in camera
// orientation. A camera image point and a panorama point are the same scene point when it
// lies on the convergence sphere: radius `depth` about the parallax origin (a depth that is
// not positive puts the sphere at infinity: directions only). A latlong camera is a
// panorama turned by its rotation; its position does not enter.
//
// The inverse flag picks the direction: false, the destination is the other side and the
// source the camera (a camera projected into the panorama); true, the destination is the
// camera and the source the other side (the panorama seen through a camera). With the wrap
// flag, panorama positions are reduced into [0, width).
#pragma once

#include <algorithm>
#include <cmath>

#include "kiln/ParamName.h"
#include "render/kernels/PositionImage.h"

namespace Korvane {
namespace Research {
namespace Kernels {

constexpr const char* kProjectionId =
    "5926363fe6a11024de2ba9c8cf2ed1df8b64441c516b64aeddc012f8a7865584";

/// The scalars, in parameter-table order.
enum ProjectionParam : int {
    kPSourceWidth,     // float, pixels: the source frame
    kPSourceHeight,    // float
    kPDestWidth,       // float, pixels: the destination frame
    kPDestHeight,      // float
    kPInverse,         // bool: destination is the camera
    kPWrap,            // bool: reduce panorama positions into [0, width)
    kPFocal,           // float, mm: the camera's focal length
    kPSensorWidth,     // float, mm: spans the camera image's width
    kPAspect,          // float: pixel width / pixel height
    kPShiftX,          // float, pixels: optical centre from the image centre, x right
    kPShiftY,          // float, pixels, y up
    kPDistortionA,     // float: r_image = r (a r^3 + b r^2 + c r + d), d = 1 - a - b - c
    kPDistortionB,     // float
    kPDistortionC,     // float
    kPUndistort,       // bool: apply the distortion polynomial
    kPMaxIdealRadius,  // float: end of the range where the polynomial grows
    kPPositionX,       // float, metres, rig frame: the camera's position
    kPPositionY,       // float
    kPPositionZ,       // float
    kPRotationX,       // float, degrees, order ZXY: camera to rig frame
    kPRotationY,       // float
    kPRotationZ,       // float
    kPOtherFocal,      // float, mm: focal length of an ideal lens on the other side
    kPOriginX,         // float, metres, rig frame: parallax origin
    kPOriginY,         // float
    kPOriginZ,         // float
    kPDepth,           // float, metres: convergence sphere radius
    kPEnabled,         // int: 0 writes kNoSample everywhere
    kPOtherType,       // int: the other side's projection type
    kPCameraType,      // int: the camera's projection type
    kPCircleX,         // float, pixels, y up: centre of the camera's image circle
    kPCircleY,         // float
    kPCircleRadius,    // float, pixels; not positive: no circle, the whole frame is picture
    kProjectionParamCount
};

constexpr Kiln::Compute::ParamName kProjectionParamNames[kProjectionParamCount] = {
    0xbdcf3a50d2518de5, 0xa916c628501504b6, 0x3f08f3413c094f35, 0x6ba51525912ac522,
    0x28679f4f05504842, 0x3f16f21b859a856d, 0xa4030c5a18f20be6, 0xd53b72ee8ec0c15b,
    0x090d6f892d3f0276, 0x05eeaedc881ca8fe, 0x407f69152f7ee02b, 0x26aa3371d392d874,
    0x63ae547cc7c44f85, 0xe9981d8a647c4585, 0xe6da5b09a0a6cd5c, 0x676b74063bc43e08,
    0xecff355d787369e8, 0x344a8919273cedff, 0x159efc46610d6ccf, 0x8ae5427523032254,
    0xe92e8c5f053ffa53, 0x0bfac7d56d1242f6, 0x7e7d9d0b1a52dfad, 0x6fc5a4568fedcc12,
    0x6e6499068352becb, 0x8becf4f0a80be67e, 0x142395f23bf82faa, 0x2f64402ed23b817c,
    0x398ecd3acf99ae9c, 0x0ce56c6a42a63b44, 0xd5baa978983b6369, 0xfe4f526311d5d724,
    0x456d044bc1f49414};

/// The parameter table: one "o<hash> <kind>" line per scalar, in order.
const char* projectionParamTable();

/// Registers the kernel's variants; later calls do nothing.
void registerProjection();

namespace detail {

constexpr double kPiD = 3.14159265358979323846;

struct Vec3 {
    double x, y, z;
};
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

/// Row-major 3 x 3 rotation.
struct Mat3 {
    double m[9];
    Vec3 operator*(Vec3 v) const {
        return {m[0] * v.x + m[1] * v.y + m[2] * v.z,
                m[3] * v.x + m[4] * v.y + m[5] * v.z,
                m[6] * v.x + m[7] * v.y + m[8] * v.z};
    }
    Vec3 transposeTimes(Vec3 v) const {
        return {m[0] * v.x + m[3] * v.y + m[6] * v.z,
                m[1] * v.x + m[4] * v.y + m[7] * v.z,
                m[2] * v.x + m[5] * v.y + m[8] * v.z};
    }
};

/// Camera to rig frame from Euler degrees: Ry(ry) Rx(rx) Rz(rz), the rig library's order.
inline Mat3 eulerZxy(double rxDeg, double ryDeg, double rzDeg) {
    const double d = kPiD / 180.0;
    const double cx = std::cos(rxDeg * d), sx = std::sin(rxDeg * d);
    const double cy = std::cos(ryDeg * d), sy = std::sin(ryDeg * d);
    const double cz = std::cos(rzDeg * d), sz = std::sin(rzDeg * d);
    // Ry * Rx
    const double a[9] = {cy, sy * sx, sy * cx, 0, cx, -sx, -sy, cy * sx, cy * cx};
    // (Ry Rx) * Rz
    return Mat3{{a[0] * cz + a[1] * sz,
                 -a[0] * sz + a[1] * cz,
                 a[2],
                 a[3] * cz + a[4] * sz,
                 -a[3] * sz + a[4] * cz,
                 a[5],
                 a[6] * cz + a[7] * sz,
                 -a[6] * sz + a[7] * cz,
                 a[8]}};
}

/// The rig library's radial polynomial (RadialDistortion), radii in units of half the
/// smaller image side.
struct Distortion {
    double a = 0, b = 0, c = 0, d = 1;
    double maxIdeal = 16.0;
    bool active = false;

    double g(double r) const { return r * (((a * r + b) * r + c) * r + d); }
    double slope(double r) const { return ((4.0 * a * r + 3.0 * b) * r + 2.0 * c) * r + d; }
    bool distort(double ideal, double* image) const {
        if (!(ideal >= 0.0 && ideal < maxIdeal)) return false;
        *image = g(ideal);
        return true;
    }
    /// Safeguarded Newton, as the rig library's, to |g(r) - image| <= 1e-12.
    bool undistort(double image, double* ideal) const {
        double hi = maxIdeal;
        if (!(image >= 0.0 && image < g(hi))) return false;
        double lo = 0.0;
        double r = std::min(image, 0.5 * hi);
        for (int i = 0; i < 200; ++i) {
            const double f = g(r) - image;
            if (std::abs(f) <= 1e-12) {
                *ideal = r;
                return true;
            }
            (f > 0.0 ? hi : lo) = r;
            const double next = r - f / slope(r);
            r = (next > lo && next < hi) ? next : 0.5 * (lo + hi);
        }
        return false;
    }
};

/// A lens of type 0, 1 or latlong in square pixels about its centre (the rig library's
/// LensGeometry).
struct Lens {
    int type = 0;  // 0 rectilinear, 1 fisheye, else latlong
    double focal = 1.0;
    double halfWidth = 1.0;
    double halfHeight = 1.0;

    bool toRay(double qx, double qy, Vec3* ray) const {
        if (type == 0) {
            const double n = std::sqrt(qx * qx + qy * qy + focal * focal);
            *ray = {qx / n, qy / n, focal / n};
            return true;
        }
        if (type == 1) {
            const double r = std::sqrt(qx * qx + qy * qy);
            const double theta = r / focal;
            if (!(theta < kPiD)) return false;
            if (r == 0.0) {
                *ray = {0, 0, 1};
                return true;
            }
            const double s = std::sin(theta) / r;
            *ray = {qx * s, qy * s, std::cos(theta)};
            return true;
        }
        const double lon = qx / halfWidth * kPiD;
        const double lat = qy / halfHeight * (kPiD / 2.0);
        if (!(std::abs(lon) <= kPiD && std::abs(lat) <= kPiD / 2.0)) return false;
        *ray = {std::cos(lat) * std::sin(lon), std::sin(lat), std::cos(lat) * std::cos(lon)};
        return true;
    }
    bool fromRay(Vec3 ray, double* qx, double* qy) const {
        if (type == 0) {
            if (!(ray.z > 0.0)) return false;
            *qx = focal / ray.z * ray.x;
            *qy = focal / ray.z * ray.y;
            return true;
        }
        if (type == 1) {
            const double rho = std::sqrt(ray.x * ray.x + ray.y * ray.y);
            if (rho == 0.0) {
                if (!(ray.z > 0.0)) return false;
                *qx = *qy = 0.0;
                return true;
            }
            const double k = focal * std::atan2(rho, ray.z) / rho;
            *qx = k * ray.x;
            *qy = k * ray.y;
            return true;
        }
        *qx = std::atan2(ray.x, ray.z) / kPiD * halfWidth;
        *qy =
            std::atan2(ray.y, std::sqrt(ray.x * ray.x + ray.z * ray.z)) / (kPiD / 2.0) * halfHeight;
        return true;
    }
};

inline bool isLatlong(int type) { return type == 2 || type == 3; }

}  // namespace detail

/// Everything one launch needs, decoded once per band from the parameter block.
struct ProjectionSetup {
    bool inverse = false;
    bool wrap = false;
    bool valid = true;  // false: every pixel gets kNoSample
    // Camera side.
    double cameraWidth = 0, cameraHeight = 0;
    double aspect = 1;
    double centreX = 0, centreY = 0;
    double distortionUnit = 1;
    detail::Distortion distortion;
    detail::Lens cameraLens;
    // The image circle of a circular fisheye; outside it is the lens housing, not picture.
    bool hasCircle = false;
    double circleX = 0, circleY = 0, circleRadius2 = 0;
    detail::Mat3 rotation{};
    detail::Vec3 position{};
    // Other side.
    double otherWidth = 0, otherHeight = 0;
    int otherType = 2;
    detail::Lens otherLens;
    detail::Vec3 origin{};
    double depth = 0;

    /// `param(i)` reads scalar i as a double (floats and ints) and `flag(i)` a bool.
    template <class Params>
    static ProjectionSetup decode(const Params& p);

    /// The source position for the destination point (dx, dy); false where it shows nothing.
    bool sourcePosition(double dx, double dy, double* sx, double* sy) const;
    /// True when destination points are panorama directions (a camera into the panorama).
    bool destinationIsPanorama() const { return !inverse && detail::isLatlong(otherType); }
    /// sourcePosition for a panorama destination, given the unit direction of the point: the
    /// row loop takes the sines of latitude and longitude from tables.
    bool sourcePositionOfDirection(detail::Vec3 direction, double* sx, double* sy) const;

private:
    /// True where the camera image (pixels, y up) shows the scene: in the frame and in the
    /// image circle when there is one.
    bool isPicture(double px, double py) const;
    bool cameraToRay(double px, double py, detail::Vec3* ray) const;
    bool rayToCamera(detail::Vec3 ray, double* px, double* py) const;
    bool otherToRay(double px, double py, detail::Vec3* ray) const;
    /// A panorama direction (rig frame, from the parallax origin) to a camera-frame ray.
    bool directionToRay(detail::Vec3 direction, detail::Vec3* ray) const;
    bool rayToOther(detail::Vec3 ray, double* px, double* py) const;
};

template <class Params>
ProjectionSetup ProjectionSetup::decode(const Params& p) {
    ProjectionSetup s;
    s.inverse = p.flag(kPInverse);
    s.wrap = p.flag(kPWrap);
    const double sourceWidth = p.value(kPSourceWidth), sourceHeight = p.value(kPSourceHeight);
    const double destWidth = p.value(kPDestWidth), destHeight = p.value(kPDestHeight);
    s.cameraWidth = s.inverse ? destWidth : sourceWidth;
    s.cameraHeight = s.inverse ? destHeight : sourceHeight;
    s.otherWidth = s.inverse ? sourceWidth : destWidth;
    s.otherHeight = s.inverse ? sourceHeight : destHeight;
    const int cameraType = int(p.value(kPCameraType));
    s.otherType = int(p.value(kPOtherType));
    const double focal = p.value(kPFocal);
    const double sensorWidth = p.value(kPSensorWidth);
    s.aspect = p.value(kPAspect);
    const bool cameraIsLens = !detail::isLatlong(cameraType);
    s.valid = p.value(kPEnabled) != 0.0 && s.cameraWidth > 0 && s.cameraHeight > 0 &&
              s.otherWidth > 0 && s.otherHeight > 0 && s.aspect > 0.0 &&
              (!cameraIsLens || (focal > 0.0 && sensorWidth > 0.0)) &&
              (detail::isLatlong(s.otherType) || (s.otherType == 0 || s.otherType == 1)) &&
              (cameraType >= 0 && cameraType <= 3);
    s.centreX = 0.5 * s.cameraWidth + p.value(kPShiftX);
    s.centreY = 0.5 * s.cameraHeight + p.value(kPShiftY);
    s.distortionUnit = 0.5 * std::min(s.cameraWidth, s.cameraHeight / s.aspect);
    if (p.flag(kPUndistort) && cameraIsLens) {
        detail::Distortion& d = s.distortion;
        d.a = p.value(kPDistortionA);
        d.b = p.value(kPDistortionB);
        d.c = p.value(kPDistortionC);
        d.d = 1.0 - d.a - d.b - d.c;
        d.maxIdeal = p.value(kPMaxIdealRadius);
        d.active = d.a != 0.0 || d.b != 0.0 || d.c != 0.0;
        if (d.active && !(d.d > 0.0 && d.maxIdeal > 0.0)) s.valid = false;
    }
    const double focalPixels = sensorWidth > 0.0 ? focal * s.cameraWidth / sensorWidth : 0.0;
    s.cameraLens = {cameraIsLens ? cameraType : 2,
                    focalPixels,
                    0.5 * s.cameraWidth,
                    0.5 * s.cameraHeight / std::max(s.aspect, 1e-12)};
    const double circleRadius = p.value(kPCircleRadius);
    s.hasCircle = cameraIsLens && circleRadius > 0.0;
    s.circleX = p.value(kPCircleX);
    s.circleY = p.value(kPCircleY);
    s.circleRadius2 = circleRadius * circleRadius;
    s.rotation = detail::eulerZxy(p.value(kPRotationX), p.value(kPRotationY), p.value(kPRotationZ));
    // A latlong camera turns the panorama; only lenses stand somewhere.
    if (cameraIsLens)
        s.position = {p.value(kPPositionX), p.value(kPPositionY), p.value(kPPositionZ)};
    const double otherFocal = p.value(kPOtherFocal);
    if (!detail::isLatlong(s.otherType)) {
        if (!(otherFocal > 0.0 && sensorWidth > 0.0)) s.valid = false;
        s.otherLens = {s.otherType,
                       sensorWidth > 0.0 ? otherFocal * s.otherWidth / sensorWidth : 0.0,
                       0.5 * s.otherWidth,
                       0.5 * s.otherHeight / std::max(s.aspect, 1e-12)};
    }
    s.origin = {p.value(kPOriginX), p.value(kPOriginY), p.value(kPOriginZ)};
    const double depth = p.value(kPDepth);
    s.depth = (cameraIsLens && depth > 0.0 && std::isfinite(depth)) ? depth : 0.0;
    return s;
}

inline bool ProjectionSetup::isPicture(double px, double py) const {
    if (!(px >= 0.0 && px <= cameraWidth && py >= 0.0 && py <= cameraHeight)) return false;
    const double ex = px - circleX, ey = py - circleY;
    return !hasCircle || ex * ex + ey * ey <= circleRadius2;
}

inline bool ProjectionSetup::cameraToRay(double px, double py, detail::Vec3* ray) const {
    if (!isPicture(px, py)) return false;
    double qx = px - centreX;
    double qy = (py - centreY) / aspect;
    if (distortion.active) {
        const double r = std::sqrt(qx * qx + qy * qy) / distortionUnit;
        double ideal;
        if (!distortion.undistort(r, &ideal)) return false;
        if (r > 0.0) {
            qx *= ideal / r;
            qy *= ideal / r;
        }
    }
    return cameraLens.toRay(qx, qy, ray);
}

inline bool ProjectionSetup::rayToCamera(detail::Vec3 ray, double* px, double* py) const {
    double qx, qy;
    if (!cameraLens.fromRay(ray, &qx, &qy)) return false;
    if (distortion.active) {
        const double r = std::sqrt(qx * qx + qy * qy) / distortionUnit;
        double distorted;
        if (!distortion.distort(r, &distorted)) return false;
        if (r > 0.0) {
            qx *= distorted / r;
            qy *= distorted / r;
        }
    }
    *px = qx + centreX;
    *py = qy * aspect + centreY;
    return isPicture(*px, *py);
}

/// A point of the other side to a ray in the camera frame.
inline bool ProjectionSetup::otherToRay(double px, double py, detail::Vec3* ray) const {
    if (!detail::isLatlong(otherType))
        return otherLens.toRay(px - 0.5 * otherWidth, (py - 0.5 * otherHeight) / aspect, ray);
    const double lon = (px / otherWidth * 2.0 - 1.0) * detail::kPiD;
    const double lat = (py / otherHeight * 2.0 - 1.0) * (detail::kPiD / 2.0);
    return directionToRay(
        {std::cos(lat) * std::sin(lon), std::sin(lat), std::cos(lat) * std::cos(lon)}, ray);
}

inline bool ProjectionSetup::directionToRay(detail::Vec3 direction, detail::Vec3* ray) const {
    const detail::Vec3 world = depth > 0.0 ? origin + depth * direction - position : direction;
    if (dot(world, world) == 0.0) return false;
    *ray = rotation.transposeTimes(world);
    return true;
}

inline bool ProjectionSetup::sourcePositionOfDirection(detail::Vec3 direction,
                                                       double* sx,
                                                       double* sy) const {
    detail::Vec3 ray;
    return valid && directionToRay(direction, &ray) && rayToCamera(ray, sx, sy);
}

/// A ray in the camera frame to a point of the other side.
inline bool ProjectionSetup::rayToOther(detail::Vec3 ray, double* px, double* py) const {
    if (!detail::isLatlong(otherType)) {
        double qx, qy;
        if (!otherLens.fromRay(ray, &qx, &qy)) return false;
        *px = qx + 0.5 * otherWidth;
        *py = qy * aspect + 0.5 * otherHeight;
        return true;
    }
    detail::Vec3 direction = rotation * ray;
    if (depth > 0.0) {
        // Where the ray from the camera meets the sphere of radius depth about the origin: the
        // far root of |c + t d| = R, c the camera relative to the origin, |d| = 1.
        const detail::Vec3 c = position - origin;
        const double cd = dot(c, direction);
        const double disc = cd * cd - (dot(c, c) - depth * depth);
        if (disc < 0.0) return false;
        const double t = -cd + std::sqrt(disc);
        if (!(t > 0.0)) return false;
        direction = c + t * direction;
    }
    const double lon = std::atan2(direction.x, direction.z);
    const double lat =
        std::atan2(direction.y, std::sqrt(direction.x * direction.x + direction.z * direction.z));
    *px = (lon / detail::kPiD + 1.0) * 0.5 * otherWidth;
    *py = (lat / (detail::kPiD / 2.0) + 1.0) * 0.5 * otherHeight;
    if (wrap && *px >= otherWidth) *px -= otherWidth;
    return true;
}

inline bool ProjectionSetup::sourcePosition(double dx, double dy, double* sx, double* sy) const {
    if (!valid) return false;
    detail::Vec3 ray;
    if (inverse) return cameraToRay(dx, dy, &ray) && rayToOther(ray, sx, sy);
    return otherToRay(dx, dy, &ray) && rayToCamera(ray, sx, sy);
}

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
