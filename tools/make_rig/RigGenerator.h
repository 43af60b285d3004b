// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <iosfwd>
#include <string>

#include "RigOptions.h"

namespace Korvane {
namespace MakeRig {

/// Writes a whole footage set: the camera images, rig.json and, when asked, the ground truth
/// (file names and formats in tools/make_rig/README.md). Creates the output folders. Progress
/// lines go to `log` when it is not null. Throws std::runtime_error naming the file on a
/// write failure; files written before it stay.
class RigGenerator {
public:
    explicit RigGenerator(RigOptions options) : m_options(std::move(options)) {}
    void run(std::ostream* log) const;

    /// "DIR/cam3.0007.exr" style names; `view` is "cam3", "truth/pano", ...
    static std::string framePath(const std::string& dir,
                                 const std::string& view,
                                 int frame,
                                 const std::string& ext);

private:
    RigOptions m_options;
};

}  // namespace MakeRig
}  // namespace Korvane
