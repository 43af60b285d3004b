// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace PX {
namespace Image {

/// What kind of host the process is. The command-line host leaves the GUI flag false, so that
/// nothing is kept in the disk image cache; the interactive host sets it true once at start-up.
/// Reading and setting are thread-safe.
class Application {
public:
    /// True only in an interactive host (false until setGUIActive(true)).
    static bool IsGUIActive();
    /// For the interactive host, and for tests.
    static void setGUIActive(bool active);
};

}  // namespace Image
}  // namespace PX
