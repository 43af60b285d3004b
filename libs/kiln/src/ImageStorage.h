// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "base/RefCounter.h"
#include "kiln/Device.h"

namespace Kiln {
namespace detail {

/// The memory behind one or more image handles: allocated on a device (and released there when
/// the last handle goes) or borrowed from a caller's tile.
class ImageStorage : public Korvane::Base::RefCounter {
public:
    ImageStorage(Compute::DevicePtr device, void* memory, bool owned, std::string memoryName)
        : m_device(std::move(device)),
          m_memory(memory),
          m_owned(owned),
          m_memoryName(std::move(memoryName)) {}
    ~ImageStorage() override {
        if (m_owned) m_device->release(m_memory);
    }
    ImageStorage(const ImageStorage&) = delete;
    ImageStorage& operator=(const ImageStorage&) = delete;

    const Compute::DevicePtr& device() const { return m_device; }
    bool owned() const { return m_owned; }
    const std::string& memoryName() const { return m_memoryName; }

private:
    Compute::DevicePtr m_device;
    void* m_memory;
    bool m_owned;
    std::string m_memoryName;
};

}  // namespace detail
}  // namespace Kiln
