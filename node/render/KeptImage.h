// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Image.h"

namespace Korvane {
namespace Research {

/// `held` when it already is a float image of `box` and `channels` on `device`, else a new
/// uninitialised one put in its place. Renders keep their full-size working images this way:
/// a fresh 32 MiB image costs its page faults again at every frame, often more than the kernel
/// that fills it.
inline Kiln::Image& keptImage(Kiln::Image& held,
                              const Kiln::Box& box,
                              int channels,
                              const Kiln::Compute::DevicePtr& device) {
    if (held.empty() || held.box() != box || held.channels() != channels ||
        held.type() != Kiln::Pixel::ComponentType::Float || held.device() != device)
        held = Kiln::Image(Kiln::Info{box, channels}, device);
    return held;
}

}  // namespace Research
}  // namespace Korvane
