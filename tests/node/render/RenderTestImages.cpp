// SPDX-License-Identifier: Apache-2.0
#include "RenderTestImages.h"

namespace Korvane::Research::test {

Kiln::Image makeImage(int width,
                      int height,
                      int channels,
                      const std::function<float(int, int, int)>& fill,
                      int x0,
                      int y0) {
    Kiln::Info info;
    info.box = Kiln::Box{x0, y0, x0 + width, y0 + height};
    info.channels = channels;
    Kiln::Image image(info, nullptr);
    for (int y = y0; y < y0 + height; ++y)
        for (int x = x0; x < x0 + width; ++x)
            for (int c = 0; c < channels; ++c) pixel(image, x, y)[c] = fill(x, y, c);
    return image;
}

Kiln::Image constantImage(int width, int height, int channels, float value) {
    return makeImage(width, height, channels, [value](int, int, int) { return value; });
}

}  // namespace Korvane::Research::test
