// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>

#include "SerialExecutor.h"

namespace Vireo {

/// Image files decoded ahead of their use, one after the other on a thread of its own: while
/// a frame is built from the files of one frame, those of the next are inflated and converted.
/// Each slot (a Read's view) holds at most one file, so memory stays at one image per slot: a
/// new request for a slot drops what it held. A file is handed out once, and only when it has
/// not changed since it was read; anything that went wrong is forgotten (the caller reads the
/// file itself and reports the error as usual). Destroying it waits for the file being read
/// and drops the others.
class ReadAhead {
public:
    /// A file's pixels as floats, rows top first, the file's channels interleaved.
    struct Image {
        OIIO::ImageSpec header;
        std::vector<float> pixels;
    };

    /// Starts reading `name` for `slot` (after the files asked for before).
    void request(int slot, const std::string& name);
    /// The image of `name` read ahead for `slot`, waiting for it when it is not read yet (a
    /// Read asks for its files in the order it asked them to be read ahead). False (and `image`
    /// untouched) when it was not asked for, could not be read or changed on disk since.
    bool take(int slot, const std::string& name, Image* image);
    /// Pixel memory to decode the next file into.
    void recycle(std::vector<float> pixels);

    /// A stamp of the file's last change, size and inode (0 when it cannot be looked at).
    static std::uint64_t fileStamp(const std::string& name);
    /// Opens an image file to read its values as it holds them: no premultiplying of formats
    /// that keep colour apart from alpha (PNG). Null when it cannot be read (OIIO::geterror()
    /// says why).
    static std::unique_ptr<OIIO::ImageInput> open(const std::string& name);

private:
    struct Entry {
        std::string name;
        bool ready = false;
        std::uint64_t stamp = 0;
        Image image;
        /// Tells a read whether its entry is still the one it was asked for.
        std::uint64_t id = 0;
        /// The read's place in the reader's order.
        SerialExecutor::Ticket ticket = 0;
    };

    /// Reads the file of `slot`, unless the slot has been asked for another since (`id`).
    void read(int slot, std::uint64_t id);

    std::mutex m_mutex;
    std::map<int, Entry> m_entries;
    std::vector<std::vector<float>> m_spare;
    std::uint64_t m_nextId = 1;
    /// Last, so that the read it waits for at the end still finds the members above.
    SerialExecutor m_reader{SerialExecutor::kUnbounded, SerialExecutor::AtShutdown::Drop};
};

}  // namespace Vireo
