// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "base/RefCounter.h"
#include "kiln/Context.h"
#include "kiln/ProgramSource.h"

namespace Kiln {
class Image;

namespace Compute {

class Kernel;
using KernelPtr = boost::intrusive_ptr<Kernel>;
/// The images of one launch, in the kernel's image order.
using ImageList = std::vector<const Image*>;

/// One precompiled kernel variant chosen for a context and a set of images. Kernels are cheap;
/// launch sites make one per launch and drop it after.
class Kernel : public Korvane::Base::RefCounter {
public:
    /// Picks the variant "<id>_<context's target>_<flags>_<signature of images>". `entryName`
    /// must be empty (a kernel has one entry point); `compileOptions` and `compileLog` must be
    /// null, precompiled kernels take no options and write no log. Throws KernelError naming the
    /// key and the device, listing the registered keys of the id, when no variant matches;
    /// DeviceError when the images are empty or not on the context's device.
    static KernelPtr Make(const ContextPtr& context,
                          const ProgramSource& source,
                          const ImageList& images,
                          const std::string& entryName,
                          unsigned flags,
                          const std::string* compileOptions,
                          std::string* compileLog);

    const std::string& key() const;
    const ContextPtr& context() const { return m_context; }
    const JIT::KernelVariant& variant() const { return *m_variant; }
    /// "kernel <key> on device <name>", the prefix of every error about this kernel.
    std::string describe() const;

private:
    Kernel(ContextPtr context, const JIT::KernelVariant* variant);

    ContextPtr m_context;
    const JIT::KernelVariant* m_variant;
};

}  // namespace Compute
}  // namespace Kiln
