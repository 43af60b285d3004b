// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "px/image/Box.h"
#include "px/image/Channel.h"

namespace PX {
namespace Image {

/// Float pixels of a box and a set of channels, one component per channel.
///
/// Layout: packed planes interleave the channels of a pixel (column stride = channel count);
/// unpacked planes hold one whole image per channel, channel after channel (column stride 1,
/// channel stride = width * height). Rows run from the box's bottom (y) upwards.
///
/// Copies share one buffer (like the host's ref-counted planes). makeWritable() allocates
/// the buffer, zero-filled, under the plane's write lock; a plane read by several threads is
/// filled by one of them while it holds writeLock().
///
/// A buffer reused from PlanePool is cleared when its pixels are first asked for (writable(),
/// readable() and what calls them), once, before any pointer to them is handed out; a writer
/// that writes every float of the plane asks with overwritable() instead and spares the clear
/// (32 MiB on one thread for a 2048 x 1024 RGBA plane).
class ImagePlane {
public:
    /// The empty plane: box (0, 0, 1, 1), packed, no channels, no buffer.
    ImagePlane() : ImagePlane(Box(0, 0, 1, 1), true, ChannelSet()) {}
    ImagePlane(const Box& box, bool packed, const ChannelSet& channels);

    const Box& bounds() const { return m_box; }
    const ChannelSet& channels() const { return m_channels; }
    bool packed() const { return m_packed; }
    int nComps() const { return m_nComps; }
    /// Position of `c` among the plane's components, -1 when absent.
    int chanNo(Channel c) const { return m_channels.chanNo(c); }

    /// Allocates the buffer if there is none. Thread-safe.
    void makeWritable();
    /// The same, for a caller that already holds writeLock().
    void makeWritableLocked();
    bool hasBuffer() const;
    std::mutex& writeLock() const { return m_shared->lock; }

    /// Strides in floats.
    std::ptrdiff_t rowStride() const {
        return m_packed ? std::ptrdiff_t(m_box.w()) * nComps() : m_box.w();
    }
    std::ptrdiff_t colStride() const { return m_packed ? nComps() : 1; }
    std::ptrdiff_t chanStride() const {
        return m_packed ? 1 : std::ptrdiff_t(m_box.w()) * m_box.h();
    }
    /// True when the pixels lie as one image per channel, channel after channel (unpacked).
    bool isChannelByChannel() const { return !m_packed || nComps() == 1; }

    /// The first float of the buffer; null before makeWritable().
    float* writable();
    const float* readable() const;
    /// writable() for a caller that writes every float of the plane before it is read: a reused
    /// buffer still holds an old plane's pixels. A writer that may stop part way (an error
    /// drops the plane, as the render entry does) may use it; one that may skip pixels may not.
    float* overwritable();
    /// Pixel (x, y) of component z, in box coordinates. Requires a buffer.
    float* writableAt(int x, int y, int z) {
        return writable() + (y - m_box.y()) * rowStride() + (x - m_box.x()) * colStride() +
               z * chanStride();
    }
    float at(int x, int y, int z) const {
        return readable()[(y - m_box.y()) * rowStride() + (x - m_box.x()) * colStride() +
                          z * chanStride()];
    }
    size_t sizeInFloats() const { return size_t(m_box.w()) * m_box.h() * nComps(); }

private:
    struct Shared {
        mutable std::mutex lock;
        std::vector<float> pixels;
        bool allocated = false;
        /// A reused buffer not yet cleared; set and cleared under clearLock (not `lock`, which
        /// a caller of makeWritableLocked() holds while it reads pixels in).
        std::atomic<bool> clearPending{false};
        std::mutex clearLock;
    };
    /// Clears the buffer if it is still pending (`overwrite` false) or drops the clear (true).
    void settleClear(bool overwrite) const;
    float* pixels() const;
    Box m_box;
    bool m_packed;
    ChannelSet m_channels;
    int m_nComps;  ///< kept: the strides ask for it at every pixel
    std::shared_ptr<Shared> m_shared;
};

}  // namespace Image
}  // namespace PX
