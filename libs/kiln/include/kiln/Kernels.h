// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "kiln/Image.h"

namespace Kiln {
namespace Kernels {

/// Launch wrappers of the framework's own kernels. Each runs over the whole destination; a
/// destination pixel outside the source's box reads the source as zero. Images are unsigned int
/// or float, 1 to 4 channels, on one device. Failures throw KernelError (no variant for the
/// images, channel numbers out of range) before any pixel is written.

/// destination = source; both of the same channel count and type.
void copyImage(const Image& source, Image& destination);
/// destination channel `destinationChannel` = source channel `sourceChannel`; the other channels
/// of the destination keep their values. Channel counts may differ; the types may not.
void copyChannel(const Image& source,
                 Image& destination,
                 int sourceChannel,
                 int destinationChannel);
/// destination channels 0 .. channelCount-1 = source channels firstChannel ..; destination
/// channels from channelCount on keep their values (splits RGBA into colour and alpha).
void extractChannels(const Image& source, Image& destination, int firstChannel, int channelCount);
/// Every component of `image` becomes zero.
void resetImage(Image& image);
/// destination = source * factor; float images of the same channel count.
void scaleImage(const Image& source, Image& destination, float factor);

}  // namespace Kernels
}  // namespace Kiln
