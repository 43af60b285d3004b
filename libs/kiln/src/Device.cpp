// SPDX-License-Identifier: Apache-2.0
#include "kiln/Device.h"

#include "kiln/Context.h"
#include "kiln/KilnLibrary.h"

namespace Kiln {
namespace Compute {

std::vector<Device::Info> Device::findInfo(int interface, int deviceClass) {
    std::vector<Info> found;
    const Info& cpu = KilnLibrary::GetCurrentCPUContext()->device()->info();
    if (cpu.interface == interface && cpu.deviceClass == deviceClass) found.push_back(cpu);
    return found;
}

std::string Device::target() const {
    return std::to_string(info().deviceClass) + "_" + std::to_string(info().interface);
}

ContextPtr Device::context() { return ContextPtr(new Context(DevicePtr(this))); }

}  // namespace Compute
}  // namespace Kiln
