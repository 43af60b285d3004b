// SPDX-License-Identifier: Apache-2.0
// Image files written and read directly with OpenImageIO, to check the Read and Write nodes
// against, and a scratch folder per test.
#pragma once

#include <string>
#include <vector>

namespace TestImages {

/// Pixels as files hold them: top row first, channels interleaved.
struct FileImage {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<float> pixels;
    float at(int x, int row, int c) const {
        return pixels[(size_t(row) * size_t(width) + size_t(x)) * size_t(channels) + size_t(c)];
    }
};

/// An image whose every value differs, exactly representable in 8 bits (k / 255).
FileImage pattern(int width, int height, int channels, int seed);
/// Writes `image` as it is (8-bit for png/jpg, float otherwise; PNG colour not divided by
/// alpha). Fails the test on error.
void write(const std::string& path, const FileImage& image);
/// Reads a file as float, values as they are; no pixels when it cannot be read.
FileImage read(const std::string& path);

/// A fresh empty folder under the system's temporary folder, named after the running test.
std::string scratchFolder();

}  // namespace TestImages
