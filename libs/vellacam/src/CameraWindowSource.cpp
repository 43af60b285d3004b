// SPDX-License-Identifier: Apache-2.0
#include "vellacam/CameraWindowSource.h"

#include <algorithm>
#include <utility>

namespace Korvane {
namespace Research {

CameraWindowSource::CameraWindowSource(FeatureImageSource& files,
                                       const CameraRigDefinition& rig,
                                       std::vector<int> inputs)
    : m_files(files), m_rig(rig), m_inputs(std::move(inputs)) {}

std::vector<int> CameraWindowSource::cameraInputs() const {
    std::vector<int> out(m_inputs.size(), -1);
    for (size_t c = 0; c < m_inputs.size(); ++c)
        if (m_inputs[c] >= 0) out[c] = static_cast<int>(c);
    return out;
}

bool CameraWindowSource::getImage(int camera, int frame, FeatureImage* image) {
    *image = FeatureImage();
    if (camera < 0 || camera >= static_cast<int>(m_inputs.size()) ||
        camera >= m_rig.getNumberCameras() || m_inputs[size_t(camera)] < 0)
        return false;
    const int input = m_inputs[size_t(camera)];
    if (input != m_cachedInput || frame != m_cachedFrame) {
        m_cachedOk = m_files.getImage(input, frame, &m_cached);
        m_cachedInput = input;
        m_cachedFrame = frame;
    }
    if (!m_cachedOk) return false;
    const CameraDefinition& definition = m_rig.getCamera(camera);
    if (!definition.hasCropWindow()) {
        *image = m_cached;
        return true;
    }
    const Eigen::Vector2i& offset = definition.getCropWindowOffset();
    const int width = definition.getFormatWidth(), height = definition.getFormatHeight();
    if (offset.x() + width > m_cached.width || offset.y() + height > m_cached.height) {
        m_files.warning("camera " + definition.getOutputView() + "'s crop window (" +
                        std::to_string(width) + " x " + std::to_string(height) + " from " +
                        std::to_string(offset.x()) + ", " + std::to_string(offset.y()) +
                        ") reaches past its " + std::to_string(m_cached.width) + " x " +
                        std::to_string(m_cached.height) + " footage");
        return false;
    }
    image->width = width;
    image->height = height;
    image->pixels.resize(size_t(width) * size_t(height));
    for (int j = 0; j < height; ++j) {
        const float* row =
            &m_cached.pixels[size_t(j + offset.y()) * size_t(m_cached.width) + size_t(offset.x())];
        std::copy(row, row + width, &image->pixels[size_t(j) * size_t(width)]);
    }
    return true;
}

}  // namespace Research
}  // namespace Korvane
