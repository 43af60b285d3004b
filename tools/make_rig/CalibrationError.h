// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "RigOptions.h"
#include "vellacam/CameraRigDefinition.h"

namespace Korvane {
namespace MakeRig {

/// The rig as a real calibration would record it: each camera of `truth` with its rotation
/// turned by exactly options.rotationError degrees about a random axis, its focal length
/// scaled by 1 +- options.focalError / 100 (random sign) and its optical centre moved by
/// options.centreError pixels in a random direction. Everything else (format, lens model,
/// distortion, image circle, positions, links) is kept. Draws come from their own stream of
/// the seed, so the scene and the true rig do not change with these options; with every error
/// 0 the result equals `truth`.
Korvane::Research::CameraRigDefinition recordedRig(
    const RigOptions& options, const Korvane::Research::CameraRigDefinition& truth);

}  // namespace MakeRig
}  // namespace Korvane
