// SPDX-License-Identifier: Apache-2.0
#include "kiln/Kernels.h"

#include <gtest/gtest.h>

#include <sstream>

#include "KilnTestUtil.h"
#include "kernels/CopyChannel.h"
#include "kernels/CopyImage.h"
#include "kernels/ExtractChannels.h"
#include "kernels/ResetImage.h"
#include "kernels/ScaleImage.h"
#include "kiln/Exception.h"
#include "kiln/ExplicitLaunch.h"
#include "kiln/JIT.h"

using namespace Kiln;
using namespace Kiln::Compute;

namespace {

enum class Which { CopyImage, CopyChannel, ExtractChannels, ResetImage, ScaleImage };

struct KernelCase {
    Which which;
    std::string id;
    std::string suffix;  // "<target>_<flags>_<signature>" as registered
    unsigned flags;
    std::vector<int> channels;
    Pixel::ComponentType type;
};

std::ostream& operator<<(std::ostream& out, const KernelCase& c) { return out << c.suffix; }

/// Every registered variant of the shipped kernels, read back from the registry.
std::vector<KernelCase> allCases() {
    const std::pair<Which, const char*> kernels[] = {
        {Which::CopyImage, Kernels::kCopyImageId},
        {Which::CopyChannel, Kernels::kCopyChannelId},
        {Which::ExtractChannels, Kernels::kExtractChannelsId},
        {Which::ResetImage, Kernels::kResetImageId},
        {Which::ScaleImage, Kernels::kScaleImageId}};
    std::vector<KernelCase> cases;
    for (const auto& [which, id] : kernels)
        for (const std::string& key : JIT::RegisteredVariants(id)) {
            KernelCase c{which, id, key.substr(65), 0, {}, Pixel::ComponentType::Float};
            std::istringstream in(c.suffix);
            std::string field;
            for (int k = 0; k < 3; ++k) std::getline(in, field, '_');  // class, interface, flags
            c.flags = unsigned(std::stoul(field));
            while (std::getline(in, field, '_')) {
                c.channels.push_back(field[0] - '0');
                c.type = field.substr(1) == "f" ? Pixel::ComponentType::Float
                                                : Pixel::ComponentType::UnsignedInt;
            }
            cases.push_back(c);
        }
    return cases;
}

class ShippedKernel : public ::testing::TestWithParam<KernelCase> {};

}  // namespace

TEST_P(ShippedKernel, MatchesPlainReference) {
    const KernelCase& c = GetParam();
    std::mt19937 rng(31);
    // The source misses the output's left and right columns and top rows, and reaches below it.
    const int outChannels = c.channels.back();
    const int inChannels = c.channels.front();
    Image output = KilnTest::randomImage({{0, 0, 23, 17}, outChannels, c.type}, rng);
    const Image before = output.distributeTo(output.device());
    const Image source = KilnTest::randomImage({{4, -5, 19, 12}, inChannels, c.type}, rng);
    const int extractCount = std::max(1, std::min(inChannels, outChannels) - 1);
    const int extractFirst = inChannels - extractCount;
    const float factor = 0.75f;

    const ProgramSource program(nullptr, 0, 0, c.id.c_str());
    const ImageList images =
        c.which == Which::ResetImage ? ImageList{&output} : ImageList{&source, &output};
    RunExplicit(program, c.flags, images, [&](KernelExecutionContext& context) {
        if (c.which == Which::CopyChannel) {
            WriteScalar(context, Kernels::kCopyChannelSource, inChannels - 1);
            WriteScalar(context, Kernels::kCopyChannelDestination, outChannels / 2);
        } else if (c.which == Which::ExtractChannels) {
            WriteScalar(context, Kernels::kExtractChannelsFirst, extractFirst);
            WriteScalar(context, Kernels::kExtractChannelsCount, extractCount);
        } else if (c.which == Which::ScaleImage) {
            WriteScalar(context, Kernels::kScaleImageFactor, factor);
        }
    });

    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x)
            for (int ch = 0; ch < outChannels; ++ch) {
                const bool inside = source.box().contains(x, y);
                const auto in = [&](int k) {
                    return inside ? KilnTest::get(source, x, y, k) : 0.0;
                };
                double expected = KilnTest::get(before, x, y, ch);
                switch (c.which) {
                    case Which::CopyImage:
                        expected = in(ch);
                        break;
                    case Which::CopyChannel:
                        if (ch == outChannels / 2) expected = in(inChannels - 1);
                        break;
                    case Which::ExtractChannels:
                        if (ch < extractCount) expected = in(extractFirst + ch);
                        break;
                    case Which::ResetImage:
                        expected = 0;
                        break;
                    case Which::ScaleImage:
                        expected = float(in(ch)) * factor;
                        break;
                }
                ASSERT_EQ(KilnTest::get(output, x, y, ch), expected)
                    << "pixel " << x << "," << y << " channel " << ch;
            }
}

std::string caseName(const ::testing::TestParamInfo<KernelCase>& info) {
    static const char* const kNames[] = {"Copy", "CopyChannel", "Extract", "Reset", "Scale"};
    return kNames[int(info.param.which)] + std::string("_") + info.param.suffix;
}

INSTANTIATE_TEST_SUITE_P(AllSignatures, ShippedKernel, ::testing::ValuesIn(allCases()), caseName);

TEST(ShippedKernels, WrappersRejectChannelsTheImagesLack) {
    const Image rgba({{0, 0, 4, 4}, 4, Pixel::ComponentType::Float}, nullptr);
    Image grey({{0, 0, 4, 4}, 1, Pixel::ComponentType::Float}, nullptr);
    EXPECT_THROW(Kernels::copyChannel(rgba, grey, 4, 0), KernelError);
    EXPECT_THROW(Kernels::copyChannel(rgba, grey, 0, 1), KernelError);
    EXPECT_THROW(Kernels::extractChannels(rgba, grey, 3, 2), KernelError);
    EXPECT_THROW(Kernels::extractChannels(grey, grey, 0, 0), KernelError);
    Kernels::extractChannels(rgba, grey, 3, 1);
}
