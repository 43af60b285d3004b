// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "px/image/MetaData.h"
#include "vellacam/CameraRigDefinition.h"

namespace Korvane {
namespace Research {

/// Reads the JSON rig sidecar file at `path` (format in the library's README) and writes the
/// rig into `bundle` under the keys of MetaDataHandler, replacing any rig keys it held; other
/// keys are kept. On any defect (missing or unreadable file, invalid JSON, a missing, unknown
/// or ill-typed field) throws RigError with a message of the form "<path>: <problem>" that
/// names the field, e.g. "rig.json: 'cameras[1].rotation' must be an array of 3 numbers", and
/// leaves `bundle` untouched.
void ReadRigFile(const std::string& path, PX::Image::MetaData::Bundle* bundle);

/// The rig sidecar file text of `rig` with the rig at the origin, unturned, converging at
/// `convergence` metres: every camera field written, so that ReadRigFile gives the same rig.
std::string RigFileText(const CameraRigDefinition& rig, double convergence);

}  // namespace Research
}  // namespace Korvane
