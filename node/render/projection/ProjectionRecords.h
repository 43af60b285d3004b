// SPDX-License-Identifier: Apache-2.0
// The records that describe one camera to the projection functors, and the rules that turn
// them into the projection kernel's scalars.
//
// Units and frames are the rig library's (vellacam/CameraDefinition.h): millimetres for focal
// lengths and sensors, metres and the rig frame (+X right, +Y up, +Z forward) for positions,
// Euler degrees in the order ZXY for rotations, image pixels from the bottom-left corner.
// Projection types: 0 rectilinear, 1 fisheye (equidistant), 2 latlong; 3 is read as latlong.
#pragma once

#include <array>

#include "render/kernels/RenderKernels.h"

namespace Korvane {
namespace Research {
class CameraDefinition;
}
}  // namespace Korvane

namespace Kiln {
namespace ImageProjection {

using Filter = Korvane::Research::Kernels::Filter;
using VectorMode = Korvane::Research::Kernels::VectorMode;
using Quaternion = Korvane::Research::Kernels::Quaternion;

/// A frame size in pixels; -1 until set.
struct Size {
    int width = -1;
    int height = -1;
    bool isSet() const { return width >= 1 && height >= 1; }
    friend bool operator==(const Size& a, const Size& b) {
        return a.width == b.width && a.height == b.height;
    }
};

/// The camera: lens, sensor and pose.
struct CameraRecord {
    float fieldOfView = 1.0f;         ///< degrees, horizontal; informative (see fieldOfView())
    float focalLength = 1.0f;         ///< mm
    float sensorWidth = 1.0f;         ///< mm, spans the image width
    float sensorHeight = 1.0f;        ///< mm, recorded; the vertical scale follows the pixel aspect
    float pixelAspect = 1.0f;         ///< pixel width / pixel height
    float focalScale = 1.0f;          ///< multiplies the focal length (a viewer's zoom, a proxy)
    std::array<float, 3> position{};  ///< metres, rig frame
    std::array<float, 3> rotation{};  ///< degrees, ZXY, camera to rig frame
    int projection = 1;
    int enabled = 1;  ///< 0: the camera shows nothing
};

/// The lens's radial distortion and optical centre.
struct LensRecord {
    std::array<float, 3> distortion{};   ///< a, b, c of r (a r^3 + b r^2 + c r + d)
    std::array<float, 2> centreShift{};  ///< pixels, x right, y up
    bool undistort = true;               ///< false: the footage is already free of distortion
    /// The image circle of a circular fisheye: centre x, y (pixels, y up) and radius; outside
    /// it the camera shows nothing (alpha 0), since there is the lens housing. Radius 0: none.
    std::array<float, 3> imageCircle{};
};

/// Where camera rays meet the panorama's rays: the convergence sphere about `origin`.
struct ParallaxRecord {
    std::array<float, 3> origin{};  ///< metres, rig frame: the rig centre
    float depth = 100.0f;           ///< metres; not positive: at infinity (no parallax)
};

/// One camera and the projection type of the other side.
struct ProjectionRecords {
    CameraRecord camera;
    LensRecord lens;
    ParallaxRecord parallax;
    int otherType = 2;
};

bool isLatlong(int projectionType);

/// Horizontal field of view in degrees of a camera record's lens and sensor width, a focal
/// length below 0.001 mm taken as 0.001 mm: rectilinear 2 atan(w / 2f), fisheye w / f
/// (equidistant, so above 180 degrees for wide fisheyes), latlong 360.
float fieldOfView(const CameraRecord& camera);

/// The focal length that lets the sensor width cover the same horizontal field of view
/// through a lens of type `to` as `focal` does through type `from`. Passed through unchanged
/// when either type is latlong or both are equal. Closed forms, w the sensor width and
/// theta the half angle: rectilinear to fisheye f1 = (w / 2) / atan(w / 2 f0); fisheye to
/// rectilinear f0 = (w / 2) / tan(theta), theta = w / 2 f1 capped at 85 degrees (a
/// rectilinear image cannot show 180 degrees; a wider fisheye becomes a 170-degree view).
/// A focal length below 0.001 mm is taken as 0.001 mm.
float convertFocalLength(float focal, float sensorWidth, int from, int to);

/// The kernel's scalars for `records` with the destination `inverse` (the camera) or not
/// (the other side), frames of `source` and `destination` size, panorama positions wrapped
/// when `wrap`.
Korvane::Research::Kernels::ProjectionScalars projectionScalars(const ProjectionRecords& records,
                                                                bool inverse,
                                                                bool wrap,
                                                                const Size& source,
                                                                const Size& destination);

/// The records of a rig library camera. Its parallax record is the renderer's: the rig centre
/// as origin and the convergence depth.
CameraRecord cameraRecord(const Korvane::Research::CameraDefinition& camera);
LensRecord lensRecord(const Korvane::Research::CameraDefinition& camera);

/// The inverse of q: (w, -x, -y, -z) / (w^2 + x^2 + y^2 + z^2); q itself when it has no length.
Quaternion inverse(const Quaternion& q);

}  // namespace ImageProjection
}  // namespace Kiln
