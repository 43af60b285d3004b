// SPDX-License-Identifier: Apache-2.0
#include "kiln/Image.h"

#include <cstring>

#include "ImageStorage.h"
#include "kiln/Exception.h"
#include "kiln/KilnLibrary.h"

namespace Kiln {
namespace {

std::size_t alignUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void checkInfo(const Info& info) {
    if (info.channels < 1 || info.channels > 4)
        throw ImageError("image channel count " + std::to_string(info.channels) +
                         " is outside 1..4");
    if (info.box.empty()) throw ImageError("image box is empty");
}

Compute::DevicePtr defaultDevice() {
    Compute::ContextPtr context = KilnLibrary::GetThreadContext();
    if (!context) context = KilnLibrary::GetCurrentCPUContext();
    return context->device();
}

}  // namespace

Image::Image() = default;
Image::Image(const Image& other) = default;
Image::Image(Image&& other) noexcept = default;
Image& Image::operator=(const Image& other) = default;
Image& Image::operator=(Image&& other) noexcept = default;
Image::~Image() = default;

Image::Image(const Info& info,
             Compute::DevicePtr device,
             const LayoutSpec& layout,
             unsigned flags,
             const std::string& memoryName)
    : m_info(info), m_layout(layout) {
    checkInfo(info);
    if (layout.tileWidth < 1 || layout.tileHeight < 1 || layout.rowAlignment == 0 ||
        (layout.rowAlignment & (layout.rowAlignment - 1)) != 0)
        throw ImageError("image layout needs positive tile sizes and a power-of-two alignment");
    if (!device) device = defaultDevice();
    m_rowBytes = std::ptrdiff_t(alignUp(info.box.width() * info.pixelBytes(), layout.rowAlignment));
    const std::size_t bytes = std::size_t(m_rowBytes) * std::size_t(info.box.height());
    void* memory = device->allocate(bytes, layout.rowAlignment, memoryName);
    m_storage.reset(new detail::ImageStorage(device, memory, true, memoryName));
    m_origin = static_cast<unsigned char*>(memory);
    if (flags & kClearOnAllocate) clear();
}

Image::Image(const Tile& tile) : m_info(tile.info) {
    checkInfo(tile.info);
    if (tile.data == nullptr ||
        tile.rowBytes < std::ptrdiff_t(tile.info.box.width() * tile.info.pixelBytes()))
        throw ImageError("tile has no data or rows shorter than its width");
    m_storage.reset(new detail::ImageStorage(
        KilnLibrary::GetCurrentCPUContext()->device(), tile.data, false, "buffer"));
    m_origin = static_cast<unsigned char*>(tile.data);
    m_rowBytes = tile.rowBytes;
}

bool Image::empty() const { return !m_storage; }

Compute::DevicePtr Image::device() const {
    return m_storage ? m_storage->device() : Compute::DevicePtr();
}

const std::string& Image::memoryName() const {
    static const std::string none;
    return m_storage ? m_storage->memoryName() : none;
}

bool Image::callerOwned() const { return m_storage && !m_storage->owned(); }

void Image::requireNonEmpty(const char* operation) const {
    if (!m_storage) throw ImageError(std::string(operation) + " on an empty image");
    // Pixel operations below run on the host; a GPU backend brings its own transfers.
    if (!m_storage->device()->hostAccessible())
        throw DeviceError(std::string(operation) + " on device " +
                          m_storage->device()->info().name + " needs host-visible memory");
}

void Image::clear() {
    requireNonEmpty("clear");
    const std::size_t bytes = m_info.box.width() * m_info.pixelBytes();
    for (int y = m_info.box.y0; y < m_info.box.y1; ++y) std::memset(row(y), 0, bytes);
}

void Image::copyFrom(const Image& source) {
    requireNonEmpty("copyFrom");
    source.requireNonEmpty("copyFrom");
    if (!m_info.sameFormat(source.m_info))
        throw ImageError("copyFrom needs images of one channel count and component type");
    const Box common = m_info.box.intersect(source.box());
    if (common.empty()) return;
    const std::size_t pixel = m_info.pixelBytes();
    const std::size_t bytes = common.width() * pixel;
    for (int y = common.y0; y < common.y1; ++y)
        std::memcpy(row(y) + (common.x0 - box().x0) * pixel,
                    source.row(y) + (common.x0 - source.box().x0) * pixel,
                    bytes);
}

Image Image::distributeTo(const Compute::DevicePtr& device) const {
    requireNonEmpty("distributeTo");
    Image copy(m_info, device, m_layout, 0, m_storage->memoryName());
    copy.copyFrom(*this);
    return copy;
}

Image Image::translate(int dx, int dy) const {
    Image moved(*this);
    moved.m_info.box = m_info.box.translated(dx, dy);
    return moved;
}

std::optional<std::size_t> Image::tileIndexFromPixel(int x, int y) const {
    if (!m_storage || !m_info.box.contains(x, y)) return std::nullopt;
    const std::size_t across =
        std::size_t((m_info.box.width() + m_layout.tileWidth - 1) / m_layout.tileWidth);
    return std::size_t((y - m_info.box.y0) / m_layout.tileHeight) * across +
           std::size_t((x - m_info.box.x0) / m_layout.tileWidth);
}

}  // namespace Kiln
