// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "kiln/Device.h"
#include "kiln/Info.h"
#include "kiln/LayoutSpec.h"
#include "kiln/Tile.h"

namespace Kiln {

namespace detail {
class ImageStorage;
}

/// A handle to pixels held by a device. Copies share the pixels (copy assignment rebinds the
/// handle, it copies no pixels; use copyFrom for that); the memory goes when the last handle
/// does. Pixel positions are absolute: a pixel lies at the same (x, y) in every image of a
/// launch, and translate() moves an image's pixels without copying them.
/// Handles may be copied and dropped on any thread; writing the same pixels from two threads at
/// once is the caller's race.
class Image {
public:
    /// Allocation flag: the pixels start as zeros instead of uninitialised.
    static constexpr unsigned kClearOnAllocate = 1;

    /// The empty image: no device, no pixels; every pixel operation on it throws ImageError.
    Image();
    /// Allocates `info` on `device` (the thread's bound context's device, else the CPU, when
    /// null) in the memory kind `memoryName` ("buffer" or "texture"). Throws ImageError for a
    /// channel count outside 1..4 or an empty box, DeviceError for an unknown memory kind or
    /// when memory runs out.
    Image(const Info& info,
          Compute::DevicePtr device,
          const LayoutSpec& layout = {},
          unsigned flags = 0,
          const std::string& memoryName = "buffer");
    /// An image over caller-owned host memory on the CPU device; see Tile for the lifetime.
    explicit Image(const Tile& tile);
    // Out of line: the storage type is private to the library.
    Image(const Image& other);
    Image(Image&& other) noexcept;
    Image& operator=(const Image& other);
    Image& operator=(Image&& other) noexcept;
    ~Image();

    bool empty() const;
    const Info& info() const { return m_info; }
    const Box& box() const { return m_info.box; }
    int channels() const { return m_info.channels; }
    Pixel::ComponentType type() const { return m_info.type; }
    const LayoutSpec& layout() const { return m_layout; }
    /// The device that holds the pixels; null for the empty image.
    Compute::DevicePtr device() const;
    const std::string& memoryName() const;
    /// True when the pixels belong to a caller's Tile.
    bool callerOwned() const;

    /// Host address of pixel (box().x0, y); rows lie rowBytes() apart.
    unsigned char* row(int y) const {
        return m_origin + std::ptrdiff_t(y - m_info.box.y0) * m_rowBytes;
    }
    unsigned char* origin() const { return m_origin; }
    std::ptrdiff_t rowBytes() const { return m_rowBytes; }

    /// Sets every component of every pixel to zero.
    void clear();
    /// Copies the pixels of `source` that lie inside this image's box; pixels outside `source`
    /// keep their values. Both images must have the same channel count and type (ImageError
    /// otherwise) and must not share memory.
    void copyFrom(const Image& source);
    /// A new image on `device` with the same info, layout, memory kind and pixels.
    Image distributeTo(const Compute::DevicePtr& device) const;
    /// The same pixels (shared, not copied) with the box moved by (dx, dy).
    Image translate(int dx, int dy) const;
    /// The row-major number of the layout tile holding pixel (x, y); none outside the box.
    std::optional<std::size_t> tileIndexFromPixel(int x, int y) const;

private:
    void requireNonEmpty(const char* operation) const;

    boost::intrusive_ptr<detail::ImageStorage> m_storage;
    Info m_info;
    LayoutSpec m_layout;
    unsigned char* m_origin = nullptr;
    std::ptrdiff_t m_rowBytes = 0;
};

}  // namespace Kiln
