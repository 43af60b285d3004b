// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "external/ComputeFramework.h"

namespace PX {
namespace Image {
class KnobCallback;
class TextKnob;
}  // namespace Image
}  // namespace PX

namespace VireoPlugins {

/// The compute devices of one node: the CPU context always, a GPU context when the framework
/// lists one. Devices open when the node is made and stay open for its life. Which GPU
/// programming interface is asked for is decided once per process by the environment
/// variable "VX_KILN_ALLOW_OPENCL_GPU" (non-zero: OpenCL, else CUDA).
class KilnSettings {
public:
    /// `currentGpuOption`: also hold the framework's current GPU choice.
    explicit KilnSettings(bool currentGpuOption = false);
    virtual ~KilnSettings() = default;

    /// "Local GPU:", `gpuName`, `useGPUIfAvailable`, `enableMultiGPU`, in that order.
    void knobs(PX::Image::KnobCallback& f);

    /// The GPU context when the use-the-GPU flag is on and a GPU is open, else the CPU context.
    Kiln::Compute::ContextPtr renderDevice() const;
    const Kiln::Compute::ContextPtr& cpuDevice() const { return m_cpuDevice; }
    const Kiln::Compute::ContextPtr& gpuDevice() const { return m_gpuDevice; }
    bool useGPU() const { return m_useGPU; }
    /// The open GPU's name (with "N x " in front when N > 1 GPUs are listed), or
    /// "Not available".
    std::string gpuDescription() const;

    /// The interface selector read from the environment on first use (0 when unset); the
    /// first read echoes "VX_KILN_ALLOW_OPENCL_GPU: <n>" to the standard error stream.
    static int interfaceSelector();
    /// What interfaceSelector keeps: the number in `text` (0 when null), echoed to `echo`
    /// when `text` is set.
    static int readInterfaceSelector(const char* text, std::FILE* echo);

protected:
    Kiln::Compute::ContextPtr m_gpuDevice;
    std::vector<Kiln::Compute::ContextPtr> m_gpuDevices;
    Kiln::Compute::ContextPtr m_cpuDevice;
    Kiln::Compute::ContextPtr m_currentGpu;
    bool m_useGPU = true;
    bool m_multipleGPUs = false;
};

}  // namespace VireoPlugins
