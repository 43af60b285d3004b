// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstring>
#include <type_traits>
#include <vector>

#include "kiln/IterationController.h"
#include "kiln/Kernel.h"
#include "kiln/ParamName.h"

namespace Kiln {
namespace Compute {

/// The launch state of one kernel: bound images and the parameter block. Scalars start at zero.
/// The block is copied to the device by iterate() only when the parameters-changed flag is set,
/// which is why writers store a scalar (and set the flag) only when its bytes differ; see
/// WriteScalar. One context belongs to one thread.
class KernelExecutionContext {
public:
    /// The kind of a parameter and its slot in the block (4 bytes; a Bool uses the first).
    struct MarshalledParam {
        ParamKind kind;
        unsigned char* slot;
    };

    explicit KernelExecutionContext(KernelPtr kernel);

    /// Binds the launch images. Throws KernelError unless they have the signature the kernel was
    /// made for and live on its device.
    void setImageParamBindings(const ImageList& images);
    /// Throws KernelError naming the kernel when it has no parameter `name`.
    MarshalledParam getMarshalledParamThrow(ParamName name);
    /// Throws KernelError: `name` was written as `written` but the kernel declares another kind.
    [[noreturn]] void badType(ParamName name, ParamKind written) const;

    void setParamsChanged() { m_paramsChanged = true; }
    bool paramsChanged() const { return m_paramsChanged; }

    /// Runs the kernel on `device` (the kernel's) over the controller's region and returns when
    /// the output is complete. Throws KernelError before writing anything when no images are
    /// bound or the controller asks for what a 2D launch cannot do.
    void iterate(const DevicePtr& device, const IterationController& controller);

    const Kernel& kernel() const { return *m_kernel; }

private:
    KernelPtr m_kernel;
    ImageList m_images;
    std::vector<unsigned char> m_params;
    // The block as the device last received it.
    std::vector<unsigned char> m_deviceParams;
    bool m_paramsChanged = false;
};

/// The scalar write of every launch: look `name` up, reject a kind other than `kind`, and store
/// the ParamKindBytes(kind) bytes at `value` only when they differ from the held ones, setting
/// the parameters-changed flag.
void WriteScalarBytes(KernelExecutionContext& context,
                      ParamName name,
                      ParamKind kind,
                      const void* value);

template <typename T>
void WriteScalar(KernelExecutionContext& context, ParamName name, T value) {
    static_assert(std::is_same_v<T, float> || std::is_same_v<T, int> || std::is_same_v<T, bool>,
                  "scalars are float, int or bool");
    constexpr ParamKind kind = std::is_same_v<T, float> ? ParamKind::Float
                               : std::is_same_v<T, int> ? ParamKind::Int
                                                        : ParamKind::Bool;
    WriteScalarBytes(context, name, kind, &value);
}

}  // namespace Compute
}  // namespace Kiln
