// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace PX {
namespace Image {

/// Asks the C library to keep the memory the process frees for its next allocations rather
/// than give it back to the system. A render frees and allocates images of tens of MiB every
/// frame (a node's working images, its cameras, the panorama); by default each block of more
/// than a few MiB is a mapping of its own, returned to the system when freed, so the next one
/// is fresh pages that the system faults in and clears one by one. Kept, the next frame's
/// images reuse them as they are. The process's resident size then stays near its peak
/// instead of falling between frames, which suits a host that renders. Call it once, first
/// thing in the host's process; without the GNU C library it does nothing.
void keepFreedMemory();

}  // namespace Image
}  // namespace PX
