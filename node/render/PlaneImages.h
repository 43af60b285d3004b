// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <vector>

#include "external/ComputeFramework.h"
#include "px/image/Box.h"
#include "px/image/Channel.h"

namespace PX {
namespace Image {
class ImagePlane;
}
}  // namespace PX

namespace Korvane {
namespace Research {

/// Copies between host planes (float, one component per channel, any layout) and framework
/// images (float, 1 to 4 interleaved channels). Both use the same absolute pixel positions
/// (rows up), so a host box and a framework box with the same numbers cover the same pixels.
namespace PlaneImages {

Kiln::Box toKiln(const PX::Image::Box& box);

/// A float image over `box` on `device` whose channel i holds channel `channels[i]` of
/// `plane` (1 to 4 channels); pixels of `box` outside the plane are zero.
Kiln::Image fromPlane(const PX::Image::ImagePlane& plane,
                      const std::vector<PX::Image::Channel>& channels,
                      const Kiln::Box& box,
                      const Kiln::Compute::DevicePtr& device);

/// Writes channel i of `image` into channel `channels[i]` of `plane`, over the pixels both
/// hold; the plane's other pixels and channels keep their values. The plane must have a
/// buffer.
void toPlane(const Kiln::Image& image,
             const std::vector<PX::Image::Channel>& channels,
             PX::Image::ImagePlane& plane);

/// The channels of `set` in channel order, cut into groups of at most four.
std::vector<std::vector<PX::Image::Channel>> groupsOfFour(const PX::Image::ChannelSet& set);

}  // namespace PlaneImages
}  // namespace Research
}  // namespace Korvane
