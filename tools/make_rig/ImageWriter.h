// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "ViewRenderer.h"

namespace Korvane {
namespace MakeRig {

/// Writes rendered views with OpenImageIO. The file type follows the extension of `path`:
/// EXR holds linear RGB (half float for footage, float for truth) with zip compression;
/// PNG, TIFF and JPEG hold 8-bit sRGB-encoded RGB (JPEG at quality 95). No time stamps or
/// other varying metadata are written, so equal pixels give equal bytes.
/// Throws std::runtime_error naming the file when it cannot be written.
class ImageWriter {
public:
    enum class Precision { Half, Float };
    static void writeColour(const std::string& path, const RenderedView& view, Precision precision);
    /// One float channel "Z": the view's depth in metres. `path` must name an EXR file.
    static void writeDepth(const std::string& path, const RenderedView& view);
};

}  // namespace MakeRig
}  // namespace Korvane
