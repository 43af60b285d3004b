// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "vellacam/CameraRigDefinition.h"
#include "vellacam/CameraTrack.h"

namespace Korvane {
namespace Research {

/// Gives matches of `track` their 3D Point: the rig-frame point nearest, in the least-squares
/// sense, to the rays of the match's observations (each ray from its camera's position through
/// the observed pixel), with its RMS reprojection error in pixels: the root mean square of the
/// 2n residual components (observed minus projected, x and y) of its n observations, which is
/// how a least-squares minimiser reports its error. An observation whose camera cannot project
/// the point counts with a residual of the image diagonal.
///
/// Rays that are nearly parallel (a far point, or one camera twice) put the point at 10 km
/// along their mean direction. Matches with fewer than 2 usable observations (a camera index
/// outside the rig, a position without a ray) get an invalid Point. With `replaceExisting`
/// false, matches that already hold a valid point keep it. Returns the number of matches given
/// a valid point.
int TriangulateFeatures(CameraTrack& track, const CameraRigDefinition& rig, bool replaceExisting);

}  // namespace Research
}  // namespace Korvane
