// SPDX-License-Identifier: Apache-2.0
#include "StitchInputs.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include <OpenImageIO/imageio.h>

#include "px/image/MetaData.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigFile.h"
#include "vellacam/SphericalTransform.h"

namespace StitchQuality {

using namespace Korvane::Research;

std::vector<float> ReadRgb(const std::string& path, int* width, int* height) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw std::runtime_error(path + ": " + OIIO::geterror());
    const OIIO::ImageSpec& spec = in->spec();
    *width = spec.width;
    *height = spec.height;
    std::vector<float> file(std::size_t(spec.width) * spec.height * 3);
    if (!in->read_image(0, 0, 0, 3, OIIO::TypeDesc::FLOAT, file.data()))
        throw std::runtime_error(path + ": " + in->geterror());
    // Files hold the top row first; our rows go up.
    std::vector<float> rows(file.size());
    const std::size_t stride = std::size_t(spec.width) * 3;
    for (int r = 0; r < spec.height; ++r)
        std::copy_n(&file[r * stride], stride, &rows[(spec.height - 1 - r) * stride]);
    return rows;
}

void WritePng(const std::string& path, const Kiln::Image& rgba, const Kiln::Box* crop) {
    const Kiln::Box box = crop ? crop->intersect(rgba.box()) : rgba.box();
    const int w = box.width(), h = box.height();
    std::vector<unsigned char> out(std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const float* row = reinterpret_cast<const float*>(rgba.row(box.y0 + y)) +
                           std::ptrdiff_t(box.x0 - rgba.box().x0) * 4;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const float v = std::clamp(row[x * 4 + c], 0.0f, 1.0f);
                const float s =
                    v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1 / 2.4f) - 0.055f;
                out[(std::size_t(h - 1 - y) * w + x) * 3 + c] =
                    static_cast<unsigned char>(std::lround(255 * s));
            }
    }
    auto file = OIIO::ImageOutput::create(path);
    if (!file || !file->open(path, OIIO::ImageSpec(w, h, 3, OIIO::TypeDesc::UINT8)) ||
        !file->write_image(OIIO::TypeDesc::UINT8, out.data()))
        throw std::runtime_error(path + ": cannot write");
    file->close();
}

StitchInputs::StitchInputs(const std::string& dir, int width, int height)
    : m_dir(dir), m_width(width), m_height(height) {
    PX::Image::MetaData::Bundle bundle;
    ReadRigFile(dir + "/rig.json", &bundle);
    MetaDataHandler handler;
    handler.updateMetaDataBundle(bundle);
    m_rig = handler.getRig();
    const double convergence = handler.getRigConvergence();
    for (int c = 0; c < m_rig.getNumberCameras(); ++c) {
        SphericalTransform t(m_rig.getCamera(c));
        t.setOutputImageSize(width, height);
        t.setConvergenceDepth(convergence);
        std::vector<float> map(std::size_t(width) * height * 2,
                               std::numeric_limits<float>::quiet_NaN());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                Eigen::Vector2d image;
                if (t.ProjectFromIdeal({x + 0.5, y + 0.5}, ProjectionTypeEnum::Latlong, &image)) {
                    map[(std::size_t(y) * width + x) * 2] = float(image.x());
                    map[(std::size_t(y) * width + x) * 2 + 1] = float(image.y());
                }
            }
        m_maps.push_back(std::move(map));
    }
}

std::vector<std::pair<int, int>> StitchInputs::links() const {
    std::vector<std::pair<int, int>> pairs;
    for (int a = 0; a < cameras(); ++a)
        for (int b : m_rig.getLinks(a))
            if (a < b) pairs.push_back({a, b});
    return pairs;
}

Kiln::Image StitchInputs::camera(int camera, int frame) const {
    char name[64];
    std::snprintf(name, sizeof name, "/cam%d.%04d.exr", camera + 1, frame);
    int w = 0, h = 0;
    const std::vector<float> rgb = ReadRgb(m_dir + name, &w, &h);
    Kiln::Info info;
    info.box = {0, 0, m_width, m_height};
    info.channels = 4;
    Kiln::Image image(info, nullptr, {}, Kiln::Image::kClearOnAllocate);
    const std::vector<float>& map = m_maps[camera];
    for (int y = 0; y < m_height; ++y) {
        float* row = reinterpret_cast<float*>(image.row(y));
        for (int x = 0; x < m_width; ++x) {
            const float ix = map[(std::size_t(y) * m_width + x) * 2];
            const float iy = map[(std::size_t(y) * m_width + x) * 2 + 1];
            if (std::isnan(ix)) continue;
            // Bilinear between pixel centres, edge pixels repeated up to the frame's edge.
            const float fx = std::clamp(ix - 0.5f, 0.0f, float(w - 1));
            const float fy = std::clamp(iy - 0.5f, 0.0f, float(h - 1));
            const int x0 = std::min(int(fx), w - 2), y0 = std::min(int(fy), h - 2);
            const float tx = fx - x0, ty = fy - y0;
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int px, int py) { return rgb[(std::size_t(py) * w + px) * 3 + c]; };
                row[x * 4 + c] = (1 - ty) * ((1 - tx) * at(x0, y0) + tx * at(x0 + 1, y0)) +
                                 ty * ((1 - tx) * at(x0, y0 + 1) + tx * at(x0 + 1, y0 + 1));
            }
            row[x * 4 + 3] = 1.0f;
        }
    }
    return image;
}

}  // namespace StitchQuality
