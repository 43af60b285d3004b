// SPDX-License-Identifier: Apache-2.0
// Image files for the viewing tools: float RGBA images in rows from the bottom, as the node's
// kernels take them, read from and written to files top row first.
#pragma once

#include <string>

#include "kiln/Image.h"

/// A cleared RGBA float image of width x height on the default device.
Kiln::Image allocate(int width, int height);

/// Pixel (x, y) of an RGBA float image.
float* at(const Kiln::Image& image, int x, int y);

/// An RGB(A) file (any format the image library reads) as RGBA with alpha 1; throws naming the
/// file where it cannot be read.
Kiln::Image readImage(const std::string& path);

/// The RGB of an image as an 8-bit PNG, values clamped to [0, 1] and encoded with gamma 2.2;
/// throws naming the file where it cannot be written.
void writePng(const std::string& path, const Kiln::Image& image);
