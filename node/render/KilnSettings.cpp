// SPDX-License-Identifier: Apache-2.0
#include "render/KilnSettings.h"

#include <cstdio>
#include <cstdlib>

#include "px/image/KnobCallback.h"
#include "px/image/PlainKnob.h"

namespace VireoPlugins {

namespace {
const char* kSelectorVariable = "VX_KILN_ALLOW_OPENCL_GPU";
}

int KilnSettings::readInterfaceSelector(const char* text, std::FILE* echo) {
    if (!text) return 0;
    const int selector = std::atoi(text);
    std::fprintf(echo, "%s: %d\n", kSelectorVariable, selector);
    return selector;
}

int KilnSettings::interfaceSelector() {
    static const int selector = readInterfaceSelector(std::getenv(kSelectorVariable), stderr);
    return selector;
}

KilnSettings::KilnSettings(bool currentGpuOption) {
    using namespace Kiln;
    m_cpuDevice = KilnLibrary::GetCurrentCPUContext();
    const bool openCL = interfaceSelector() != 0;
    if (openCL) {
        // Listing the devices first lets the framework open them.
        Compute::Device::findInfo(Compute::kInterfaceOpenCL, Compute::kDeviceClassGpu);
        m_gpuDevices = KilnLibrary::GetGPUContexts(Compute::kInterfaceOpenCL);
    } else {
        m_gpuDevices = KilnLibrary::GetGPUContexts(Compute::kInterfaceCuda);
    }
    if (!m_gpuDevices.empty()) m_gpuDevice = m_gpuDevices.front();
    if (currentGpuOption)
        m_currentGpu = KilnLibrary::GetCurrentGPUContext(Compute::kInterfaceCurrentGpu);
    m_multipleGPUs = m_gpuDevices.size() > 1;
}

Kiln::Compute::ContextPtr KilnSettings::renderDevice() const {
    return m_useGPU && m_gpuDevice ? m_gpuDevice : m_cpuDevice;
}

std::string KilnSettings::gpuDescription() const {
    if (!m_gpuDevice || !m_gpuDevice->device()) return "Not available";
    const std::string name = m_gpuDevice->device()->info().name;
    return m_multipleGPUs ? std::to_string(m_gpuDevices.size()) + "x " + name : name;
}

void KilnSettings::knobs(PX::Image::KnobCallback& f) {
    using namespace PX::Image;
    Text_knob(f, "", "Local GPU:", "");
    Text_knob(f, "gpuName", "", gpuDescription())
        ->tooltip(
            "This is the GPU that will be used for rendering, when <b>Use GPU if available</b> "
            "is selected.");
    Bool_knob(f, &m_useGPU, "useGPUIfAvailable", "Use GPU if available")
        ->tooltip("Select this to render on the <b>Local GPU</b>, if available.");
    f.make<PlainKnob>("enableMultiGPU", "");
}

}  // namespace VireoPlugins
