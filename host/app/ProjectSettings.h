// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace Vireo {

/// The project settings a script records besides its views (which are the process's view list,
/// PX::Image::Views): the frame range renders default to, and the name of the default format.
struct ProjectSettings {
    int firstFrame = 1;
    int lastFrame = 1;
    std::string defaultFormat = "2K_LatLong";
};

}  // namespace Vireo
