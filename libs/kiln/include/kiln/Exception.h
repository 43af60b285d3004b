// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "base/Exception.h"

namespace Kiln {

/// Common principles of the framework's exceptions: every failure of a device, an image
/// operation or a kernel launch throws one of these before any pixel of an output is written,
/// so a caller that catches one finds its images as they were. what() names the device and,
/// for kernels, the variant key.
class Exception : public Korvane::Base::Exception {
public:
    using Korvane::Base::Exception::Exception;
};

/// A device could not allocate, transfer or run: out of memory, unknown memory kind, images of
/// one launch on different devices.
class DeviceError : public Exception {
public:
    using Exception::Exception;
};

/// A device that has not the memory an allocation asks for: a caller may tell the user what
/// was too large.
class OutOfMemoryError : public DeviceError {
public:
    using DeviceError::DeviceError;
};

/// A kernel launch that cannot run: no variant registered for the key, a parameter of the wrong
/// kind or missing from the kernel, images that do not fit the kernel.
class KernelError : public Exception {
public:
    using Exception::Exception;
};

/// An image operation on images that do not fit each other (component type, channel count) or
/// on an empty image.
class ImageError : public Exception {
public:
    using Exception::Exception;
};

}  // namespace Kiln
