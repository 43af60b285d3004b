// SPDX-License-Identifier: Apache-2.0
#include "kiln/Kernels.h"

#include "CopyChannel.h"
#include "CopyImage.h"
#include "ExtractChannels.h"
#include "ResetImage.h"
#include "ScaleImage.h"
#include "kiln/Exception.h"
#include "kiln/ExplicitLaunch.h"

namespace Kiln {
namespace Kernels {
namespace {

using Compute::KernelExecutionContext;
using Compute::ProgramSource;
using Compute::RunExplicit;
using Compute::WriteScalar;

// These sites launch the flags-1 variants.
constexpr unsigned kFlags = 1;

const ProgramSource kCopyImageProgram(nullptr, 0, 0, kCopyImageId);
const ProgramSource kCopyChannelProgram(nullptr, 0, 0, kCopyChannelId);
const ProgramSource kExtractChannelsProgram(nullptr, 0, 0, kExtractChannelsId);
const ProgramSource kResetImageProgram(nullptr, 0, 0, kResetImageId);
const ProgramSource kScaleImageProgram(nullptr, 0, 0, kScaleImageId);

void requireChannel(const char* what, int channel, const Image& image) {
    if (channel < 0 || channel >= image.channels())
        throw KernelError(std::string(what) + " " + std::to_string(channel) +
                          " is not a channel of a " + std::to_string(image.channels()) +
                          "-channel image");
}

}  // namespace

void copyImage(const Image& source, Image& destination) {
    RunExplicit(kCopyImageProgram, kFlags, {&source, &destination});
}

void copyChannel(const Image& source,
                 Image& destination,
                 int sourceChannel,
                 int destinationChannel) {
    requireChannel("copyChannel: source channel", sourceChannel, source);
    requireChannel("copyChannel: destination channel", destinationChannel, destination);
    RunExplicit(
        kCopyChannelProgram, kFlags, {&source, &destination}, [&](KernelExecutionContext& context) {
            WriteScalar(context, kCopyChannelSource, sourceChannel);
            WriteScalar(context, kCopyChannelDestination, destinationChannel);
        });
}

void extractChannels(const Image& source, Image& destination, int firstChannel, int channelCount) {
    if (channelCount < 1 || channelCount > destination.channels())
        throw KernelError("extractChannels: cannot write " + std::to_string(channelCount) +
                          " channels into a " + std::to_string(destination.channels()) +
                          "-channel image");
    requireChannel("extractChannels: first channel", firstChannel, source);
    requireChannel("extractChannels: last channel", firstChannel + channelCount - 1, source);
    RunExplicit(kExtractChannelsProgram,
                kFlags,
                {&source, &destination},
                [&](KernelExecutionContext& context) {
                    WriteScalar(context, kExtractChannelsFirst, firstChannel);
                    WriteScalar(context, kExtractChannelsCount, channelCount);
                });
}

void resetImage(Image& image) { RunExplicit(kResetImageProgram, kFlags, {&image}); }

void scaleImage(const Image& source, Image& destination, float factor) {
    RunExplicit(
        kScaleImageProgram, kFlags, {&source, &destination}, [&](KernelExecutionContext& context) {
            WriteScalar(context, kScaleImageFactor, factor);
        });
}

}  // namespace Kernels
}  // namespace Kiln
