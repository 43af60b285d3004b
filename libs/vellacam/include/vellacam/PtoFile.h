// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "vellacam/CameraRigDefinition.h"

namespace Korvane {
namespace Research {

/// Where one camera of a panorama project gets its footage.
struct PtoSource {
    std::string file;  ///< the image file the project names (the `n` field)
    int line = 0;      ///< its image line, counted from 1
    int fileWidth = 0;
    int fileHeight = 0;
};

/// A panorama project turned into a rig: one camera per image line, in order.
struct PtoProject {
    CameraRigDefinition rig;
    std::vector<PtoSource> sources;  ///< one per camera
    std::vector<std::string> notes;  ///< values of the project that the rig cannot hold
};

/// Reads a panorama project (`.pto`) into a rig; the mapping is in the library's README.
/// Throws RigError "<path>:<line>: <problem>" for a line it cannot turn into a camera (an
/// unsupported projection names it: "projection f1 (cylindrical) is not supported"), and
/// "<path>: <problem>" for a file that cannot be read or holds no image line.
PtoProject ReadPtoFile(const std::string& path);
/// The same for the text of a project; `name` stands for the path in messages.
PtoProject ParsePtoText(const std::string& text, const std::string& name);

}  // namespace Research
}  // namespace Korvane
