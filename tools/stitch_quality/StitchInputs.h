// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kiln/Image.h"
#include "vellacam/CameraRigDefinition.h"

namespace StitchQuality {

/// make_rig footage projected into the equirectangular panorama, unwarped: every panorama
/// pixel looks up, through the rig library's ideal latlong projection at the rig's convergence
/// depth, where each camera sees it, and samples the camera bilinearly there. The projection
/// of each camera is computed once; frames only resample.
class StitchInputs {
public:
    /// Reads `dir`/rig.json; the panorama has `width` x `height` pixels.
    StitchInputs(const std::string& dir, int width, int height);
    int cameras() const { return int(m_maps.size()); }
    const Korvane::Research::CameraRigDefinition& rig() const { return m_rig; }
    /// Every linked pair once (a < b).
    std::vector<std::pair<int, int>> links() const;
    /// Camera `camera` (0-based) at `frame`, premultiplied RGBA over (0, 0, width, height).
    Kiln::Image camera(int camera, int frame) const;

private:
    std::string m_dir;
    int m_width, m_height;
    Korvane::Research::CameraRigDefinition m_rig;
    std::vector<std::vector<float>> m_maps;  // per camera: image x, y per pixel; NaN: unseen
};

/// Float RGB of an image file, rows bottom-up (y up), with its size.
std::vector<float> ReadRgb(const std::string& path, int* width, int* height);
/// Writes premultiplied RGBA (rows bottom-up) as an 8-bit sRGB PNG over black; `crop` (in the
/// image's pixels, y up) limits it to a part.
void WritePng(const std::string& path, const Kiln::Image& rgba, const Kiln::Box* crop = nullptr);

}  // namespace StitchQuality
