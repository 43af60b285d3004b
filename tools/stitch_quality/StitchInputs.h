// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "kiln/Image.h"
#include "vellacam/CameraRigDefinition.h"

namespace StitchQuality {

/// make_rig footage projected into the equirectangular panorama, unwarped, as the panorama path
/// projects it: the node's ProjectTo functor (Cubic, parallax at the rig's convergence depth
/// around the rig centre). The position images are cached, so frames only resample.
class StitchInputs {
public:
    /// Reads `dir`/rig.json; the panorama has `width` x `height` pixels.
    StitchInputs(const std::string& dir, int width, int height);
    int cameras() const { return m_rig.getNumberCameras(); }
    const Korvane::Research::CameraRigDefinition& rig() const { return m_rig; }
    /// Every linked pair once (a < b).
    std::vector<std::pair<int, int>> links() const;
    /// Camera `camera`'s optical axis in the panorama's frame, as the panorama path gives it.
    std::array<float, 3> axis(int camera) const;
    /// Camera `camera` (0-based) at `frame`, premultiplied RGBA over (0, 0, width, height).
    Kiln::Image camera(int camera, int frame) const;

private:
    std::string m_dir;
    int m_width, m_height;
    Korvane::Research::CameraRigDefinition m_rig;
    double m_convergence = 0;
};

/// Float RGB of an image file, rows bottom-up (y up), with its size.
std::vector<float> ReadRgb(const std::string& path, int* width, int* height);
/// Writes premultiplied RGBA (rows bottom-up) as an 8-bit sRGB PNG over black; `crop` (in the
/// image's pixels, y up) limits it to a part.
void WritePng(const std::string& path, const Kiln::Image& rgba, const Kiln::Box* crop = nullptr);

}  // namespace StitchQuality
