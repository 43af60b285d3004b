// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "base/RefCounter.h"
#include "kiln/Device.h"

namespace Kiln {
namespace Compute {

/// The handle through which callers hold and bind a device. A context keeps its device alive;
/// contexts of the same device are interchangeable.
class Context : public Korvane::Base::RefCounter {
public:
    explicit Context(DevicePtr device) : m_device(std::move(device)) {}
    const DevicePtr& device() const { return m_device; }

private:
    DevicePtr m_device;
};

}  // namespace Compute
}  // namespace Kiln
