// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>

namespace Vireo {

/// A file replaced all at once: the new content goes to a temporary file in the target's
/// folder (".NAME.XXXXXX.EXT", so a writer that picks its format from the extension still
/// finds it), which commit() flushes to disk and renames over the target. Until then the
/// target keeps its old content, whatever happens to the process; a replacement destroyed
/// without commit() removes its temporary file. Another process saving the same target at
/// the same time leaves one whole file or the other, never a mix. The new file gets the
/// target's permissions when it existed, else the usual ones (0666 less the umask). A target
/// that is a symbolic link keeps it: the file it points to is replaced (the temporary file is
/// made beside that file).
class AtomicFile {
public:
    /// Creates the temporary file. Throws std::runtime_error naming `target` and the
    /// system's reason (a missing folder, no permission, ...).
    explicit AtomicFile(std::string target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::string& target() const { return m_target; }
    /// The temporary file to write.
    const std::string& temporary() const { return m_temporary; }
    /// Writes `content` to the temporary file (replacing what it held).
    void write(const std::string& content) { write(content.data(), content.size()); }
    void write(const void* data, size_t size);
    /// Syncs the temporary file and renames it over the target. Throws std::runtime_error
    /// naming the target and the system's reason; the target is then as it was.
    void commit();

private:
    std::string m_target;
    std::string m_replaced;  // m_target, or the file it links to
    std::string m_temporary;
    bool m_committed = false;
};

/// AtomicFile's write and commit in one call.
void writeFileAtomically(const std::string& path, const std::string& content);

}  // namespace Vireo
