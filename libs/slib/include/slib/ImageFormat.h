// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Korvane {
namespace SLIB {

/// The size and shape of the images a vision stage works on. Positions are pixels from the
/// bottom-left corner, x right, y up, the centre of pixel (i, j) at (i + 0.5, j + 0.5).
/// `pixelAspect` is the width of a pixel over its height; `aspect` a second aspect factor of
/// the normalised frame (1 for the node's footage). Normalised coordinates put the image centre
/// at 0 with a scale of 2 / width.
struct ImageFormat {
    int width = 0;
    int height = 0;
    double pixelAspect = 1.0;
    double aspect = 1.0;

    ImageFormat() = default;
    ImageFormat(int w, int h, double pa = 1.0, double a = 1.0)
        : width(w), height(h), pixelAspect(pa), aspect(a) {}

    bool empty() const { return width <= 0 || height <= 0; }
};

}  // namespace SLIB
}  // namespace Korvane
