// SPDX-License-Identifier: Apache-2.0
// Launch wrappers of the node's rendering kernels: one function per launch site. Images are
// prepared by the caller (allocated on one device, right channel counts); the output is
// written in place. Every wrapper throws the framework's KernelError (no variant for the
// images' signature, a scalar of the wrong kind, a value out of range) before any pixel is
// written, and never catches it.
//
// Conventions of position and vector images: PositionImage.h. Per-kernel contracts: the
// kernel headers beside this one.
#pragma once

#include <array>

#include "kiln/Image.h"

namespace Korvane {
namespace Research {
namespace Kernels {

/// The resampling filters, by the value knobs and launch sites use.
enum class Filter : int { Bilinear = 0, Cubic = 1, Lanczos = 2, Nearest = 3 };

/// Every scalar of the projection kernel (ProjectionKernel.h), in plain units.
struct ProjectionScalars {
    float sourceWidth = 0, sourceHeight = 0;  // frame of the source, pixels
    float destWidth = 0, destHeight = 0;      // frame of the destination, pixels
    bool inverse = false;                     // destination is the camera
    bool wrap = false;                        // panorama positions reduced into [0, width)
    float focal = 0;                          // mm
    float sensorWidth = 0;                    // mm
    float aspect = 1;                         // pixel width / height
    std::array<float, 2> shift{};             // pixels, x right, y up
    std::array<float, 3> distortion{};        // a, b, c
    bool undistort = false;
    float maxIdealRadius = 16;        // RadialDistortion::maxIdealRadius of the coefficients
    std::array<float, 3> position{};  // metres, rig frame
    std::array<float, 3> rotation{};  // degrees, ZXY
    float otherFocal = 0;             // mm, ideal lens of the other side
    std::array<float, 3> origin{};    // metres, parallax origin
    float depth = 0;                  // metres; not positive: at infinity
    int enabled = 1;
    int otherType = 2;
    int cameraType = 1;
    std::array<float, 3> imageCircle{};  // centre x, y (pixels, y up), radius; 0: none
};

/// The projection kernel into `positions` (2 float channels) over its whole box: explicit
/// launch, flags 19.
void projectPositions(Kiln::Image& positions, const ProjectionScalars& scalars);

/// `destination` (the same channel count as `source`, 1 to 4, float) shows `source` at the
/// positions of `positions`, through `filter`; short launch over the destination's box.
/// `width` x `height` is the source frame (Resample.h); with `wrap` the source is a full
/// panorama. A filter value outside 0..3 launches nothing. Throws KernelError for a frame
/// without area.
void resample(Filter filter,
              const Kiln::Image& source,
              const Kiln::Image& positions,
              Kiln::Image& destination,
              int width,
              int height,
              bool wrap);

/// Vector operation A's modes (VectorOperations.h).
enum class VectorMode : int { Copy = 0, ToPositions = 1, ToDisplacements = 2 };

/// Vector operation A: `destination` = `source` converted by `mode`; the two may be one image.
void convertVectors(const Kiln::Image& source, Kiln::Image& destination, VectorMode mode);
/// Vector operation B: every position p of `positions` becomes `inner`(p).
void composeVectors(const Kiln::Image& inner, Kiln::Image& positions, bool innerWraps);

/// Grid densifying (DensifyGrid.h): `dense` gets the displacements of the vertex image `grid`
/// laid over a `width` x `height` frame, each scaled by (scaleX, scaleY).
void densifyGrid(const Kiln::Image& grid,
                 Kiln::Image& dense,
                 float width,
                 float height,
                 float scaleX,
                 float scaleY);

/// Grid warp of positions (DensifyGrid.h): every position p of `positions` (the camera frame
/// `width` x `height`) becomes p + D(p), D of the vertex image `grid` scaled by
/// (scaleX, scaleY); kNoSample stays.
void warpPositionsByGrid(const Kiln::Image& grid,
                         Kiln::Image& positions,
                         float width,
                         float height,
                         float scaleX,
                         float scaleY);

/// A unit or non-unit quaternion (w, x, y, z) in the rig frame.
struct Quaternion {
    float w = 1, x = 0, y = 0, z = 0;
};

/// The quaternion rotation of a panorama (RotateLatlong.h): explicit launch, flags 19. A
/// filter value outside 0..3 launches nothing.
void rotateLatlong(const Kiln::Image& source,
                   Kiln::Image& destination,
                   const Quaternion& rotation,
                   Filter filter);

/// An ideal lens (no distortion) over a destination box (RotateLatlong.h): rectilinear or
/// equidistant fisheye, the focal length in pixels across, the optical centre in pixels from
/// the box's corner (y up), the pixel aspect (width / height).
struct IdealLens {
    enum class Type { Rectilinear, Fisheye };
    Type type = Type::Rectilinear;
    float focal = 0;
    float centreX = 0, centreY = 0;
    float aspect = 1;
};

/// The panorama `panorama` seen through `lens` at its centre, whose camera-to-panorama
/// rotation is `rotation` (RotateLatlong.h): explicit launch, flags 19. The same pixels as the
/// projection kernel's positions of that camera resampled from the panorama, without the
/// position image. A filter value outside 0..3 launches nothing.
void lookThrough(const Kiln::Image& panorama,
                 Kiln::Image& destination,
                 const Quaternion& rotation,
                 const IdealLens& lens,
                 Filter filter);

/// Registers every variant of the node's rendering kernels; the kernels' static initialisers
/// already do at load, so only code that runs before them needs it.
void registerRenderKernels();

}  // namespace Kernels
}  // namespace Research
}  // namespace Korvane
