// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Kiln {
namespace Compute {

/// Where iterate() runs a kernel. All six bounds 0 mean the whole output image; otherwise the
/// kernel runs over [x0, x1) x [y0, y1) clipped to the output box. Images are 2D, so the z range
/// must be empty or [0, 1), and only steps of 1 are supported.
struct IterationController {
    int x0 = 0, y0 = 0, z0 = 0;
    int x1 = 0, y1 = 0, z1 = 0;
    int stepX = 1, stepY = 1, stepZ = 1;
};

}  // namespace Compute
}  // namespace Kiln
