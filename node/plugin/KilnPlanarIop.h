// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>

#include "px/image/Iop.h"
#include "render/KilnSettings.h"

namespace VireoPlugins {

/// A planar image operator that renders on the devices its KilnSettings opened.
class KilnPlanarIop : public PX::Image::PlanarIop, public KilnSettings {
public:
    explicit KilnPlanarIop(PX::Image::Node* node) : PX::Image::PlanarIop(node) {}

protected:
    int32_t m_selectedDevice = -1;
    std::array<uint32_t, 4> m_deviceState{};
};

}  // namespace VireoPlugins
