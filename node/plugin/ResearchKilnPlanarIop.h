// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "base/Progress.h"
#include "plugin/KilnPlanarIop.h"
#include "px/image/Hash.h"

namespace Korvane {
namespace Research {

/// The planar base of the node's image side: the root of the node's progress reporting and
/// the plane render with the host's disk cache.
///
/// Plane render: when cache-this-plane is set and the host runs with its GUI, every channel of
/// the plane is looked up in the main disk cache under cacheKey() extended by the channel
/// number; a full hit fills the plane from the cache. Otherwise renderHook() fills the plane
/// and, under the same conditions, each channel is stored as one cache entry:
///   offset 0: magic "!NLK" (0x4B4C4E21, little-endian), 4: version 1 (uint32),
///   8: the channel's pixels, row after row, as 32-bit floats.
/// A message-carrying exception from the hook becomes the node error with its message; running
/// out of memory (std::bad_alloc, or a device's Kiln::OutOfMemoryError) goes on to the host as
/// std::bad_alloc, whose render names the image that did not fit; any other exception becomes
/// "Exception while running kernel on device"; an interruption leaves no error and no pixels.
class ResearchKilnPlanarIop : public VireoPlugins::KilnPlanarIop, public Korvane::Base::Progress {
public:
    static constexpr uint32_t kCacheMagic = 0x4B4C4E21;  // "!NLK"
    static constexpr uint32_t kCacheVersion = 1;

    explicit ResearchKilnPlanarIop(PX::Image::Node* node) : VireoPlugins::KilnPlanarIop(node) {}

    /// Root of the progress chain: the mapped fraction goes to the host while below 1.0; 1.0
    /// or above dismisses the progress bar.
    void reportProgress(float fraction) override;
    void reportMessage(const std::string& message) override;

    void renderPlane(PX::Image::ImagePlane& plane) override;

protected:
    /// Fills `plane` (allocated). Throws on failure.
    virtual void renderHook(PX::Image::ImagePlane& plane) = 0;
    /// The key of this node's cached planes; the node's hash by default.
    virtual PX::Image::Hash cacheKey() const { return hash(); }

    bool m_cacheThisPlane = false;

private:
    bool readFromCache(PX::Image::ImagePlane& plane, const PX::Image::Hash& key);
    void writeToCache(const PX::Image::ImagePlane& plane, const PX::Image::Hash& key);
};

}  // namespace Research
}  // namespace Korvane
