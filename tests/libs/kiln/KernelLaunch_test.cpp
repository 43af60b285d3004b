// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "../../TestSupport.h"

#include <cstdlib>
#include <thread>

#include "KilnTestUtil.h"
#include "cpu/CpuDevice.h"
#include "kernels/CopyImage.h"
#include "kernels/ScaleImage.h"
#include "kiln/CpuKernel.h"
#include "kiln/Exception.h"
#include "kiln/ExplicitLaunch.h"
#include "kiln/JIT.h"
#include "kiln/Kernels.h"
#include "kiln/LaunchKernel.h"

using namespace Kiln;
using namespace Kiln::Compute;

namespace {

const Compute::ProgramSource kCopy(nullptr, 0, 0, Kernels::kCopyImageId);
const Compute::ProgramSource kScale(nullptr, 0, 0, Kernels::kScaleImageId);

Info rgba(Box box, Pixel::ComponentType type = Pixel::ComponentType::Float) {
    return {box, 4, type};
}

/// A device of the CUDA target whose memory is host memory, to launch on a target for which
/// only CPU variants exist. Running a kernel on it is a test failure.
class OtherTargetDevice : public Device {
public:
    OtherTargetDevice() { m_info = {"other", kDeviceClassGpu, kInterfaceCuda, 1}; }
    const Info& info() const override { return m_info; }
    void* allocate(std::size_t bytes, std::size_t, const std::string&) override {
        return std::malloc(bytes);
    }
    void release(void* memory) noexcept override { std::free(memory); }
    bool hostAccessible() const override { return true; }
    void run(const JIT::KernelVariant&,
             const std::vector<KernelImage>&,
             const unsigned char*,
             const Box&) override {
        ADD_FAILURE() << "a kernel ran on a device it has no variant for";
    }

private:
    Info m_info;
};

/// Expects `launch` to throw E with `text` in its message and to leave `output` as it was.
template <typename E, typename Launch>
void expectRejected(Launch launch, const Image& output, const std::string& text) {
    const Image before = output.distributeTo(output.device());
    const std::string message = TestSupport::thrown<E>(launch);
    EXPECT_NE(message.find(text), std::string::npos) << message;
    EXPECT_EQ(KilnTest::firstDifference(before, output), -1) << "output was written";
}

}  // namespace

TEST(KernelLaunch, NoVariantForSignatureFlagsOrTargetThrowsAndLeavesOutputUntouched) {
    std::mt19937 rng(21);
    const Image source = KilnTest::randomImage(rgba({0, 0, 8, 8}), rng);
    Image output = KilnTest::randomImage(rgba({0, 0, 8, 8}), rng);
    const Image grey = KilnTest::randomImage({{0, 0, 8, 8}, 1, Pixel::ComponentType::Float}, rng);
    const Image bytes =
        KilnTest::randomImage({{0, 0, 8, 8}, 4, Pixel::ComponentType::UnsignedByte}, rng);

    // The message names the key and lists what the id has.
    expectRejected<KernelError>(
        [&] { Kernels::copyImage(grey, output); }, output, "_2_2_1_1f_4f on device CPU");
    expectRejected<KernelError>([&] { Kernels::copyImage(bytes, output); },
                                output,
                                "registered for this id: 2_2_1_1ui_1ui");
    expectRejected<KernelError>(
        [&] {
            RunExplicit(kCopy, 7, {&source, &output});
        },
        output,
        "_2_2_7_4f_4f");
    const DevicePtr other(new OtherTargetDevice);
    Image otherOutput = KilnTest::randomImage(rgba({0, 0, 8, 8}), rng, other);
    const Image otherSource = KilnTest::randomImage(rgba({0, 0, 8, 8}), rng, other);
    expectRejected<KernelError>(
        [&] { Kernels::copyImage(otherSource, otherOutput); }, otherOutput, "_4_8_1_4f_4f");
    // Images of one launch must share a device.
    expectRejected<DeviceError>(
        [&] { Kernels::copyImage(otherSource, output); }, output, "is on device");
    expectRejected<DeviceError>(
        [&] { Kernels::copyImage(Image(), output); }, output, "first image");
}

TEST(KernelLaunch, WrongParameterKindOrNameThrowsAndLeavesOutputUntouched) {
    std::mt19937 rng(22);
    const Image source = KilnTest::randomImage(rgba({0, 0, 8, 8}), rng);
    Image output = KilnTest::randomImage(rgba({0, 0, 8, 8}), rng);
    const ImageList images{&source, &output};
    expectRejected<KernelError>(
        [&] {
            RunExplicit(kScale, 1, images, [](KernelExecutionContext& context) {
                WriteScalar(context, Kernels::kScaleImageFactor, 2);
            });
        },
        output,
        "parameter o4545eb999aeeeca6 is of kind 1, written as kind 3");
    const Image* list[] = {&source, &output};
    const Param wrong[] = {ParamHandler::makeParam(Kernels::kScaleImageFactor, true)};
    const ParamHandler params(1, wrong);
    expectRejected<KernelError>(
        [&] { LaunchKernel(kScale, ImageHandler(2, list), params, false); }, output, "kind 4");
    const Param unknown[] = {ParamHandler::makeParam(0x1234, 2.0f)};
    expectRejected<KernelError>(
        [&] { LaunchKernel(kScale, ImageHandler(2, list), ParamHandler(1, unknown), false); },
        output,
        "no parameter o0000000000001234");
    expectRejected<KernelError>(
        [&] {
            const ProgramSource text("kernel", 6, 0, Kernels::kCopyImageId);
            RunExplicit(text, 1, images);
        },
        output,
        "precompiled");
}

TEST(KernelLaunch, ScalarIsStoredAndFlaggedOnlyWhenItsBytesChange) {
    const Image source(rgba({0, 0, 4, 4}), nullptr, {}, Image::kClearOnAllocate);
    Image output(rgba({0, 0, 4, 4}), nullptr);
    const ImageList images{&source, &output};
    const DevicePtr device = source.device();
    KernelExecutionContext context(
        Kernel::Make(device->context(), kScale, images, "", 1, nullptr, nullptr));
    context.setImageParamBindings(images);
    EXPECT_FALSE(context.paramsChanged());
    WriteScalar(context, Kernels::kScaleImageFactor, 0.0f);  // scalars start at zero
    EXPECT_FALSE(context.paramsChanged());
    WriteScalar(context, Kernels::kScaleImageFactor, -0.0f);  // equal value, other bytes
    EXPECT_TRUE(context.paramsChanged());
    context.iterate(device, {});
    EXPECT_FALSE(context.paramsChanged()) << "iterate hands the block to the device";
    WriteScalar(context, Kernels::kScaleImageFactor, -0.0f);
    EXPECT_FALSE(context.paramsChanged());
    float held;
    std::memcpy(&held, context.getMarshalledParamThrow(Kernels::kScaleImageFactor).slot, 4);
    EXPECT_TRUE(std::signbit(held));
}

TEST(KernelLaunch, ShortLaunchWritesOnlyItsRectangle) {
    std::mt19937 rng(23);
    const Image source = KilnTest::randomImage(rgba({0, 0, 16, 12}), rng);
    Image output = KilnTest::randomImage(rgba({0, 0, 16, 12}), rng);
    const Image before = output.distributeTo(output.device());
    const Image* list[] = {&source, &output};
    const Param factor[] = {ParamHandler::makeParam(Kernels::kScaleImageFactor, 0.5f)};
    const Box rectangle{3, 2, 20, 7};  // clipped to the output at x = 16
    const ParamHandler params(1, factor);
    LaunchKernel(kScale, ImageHandler(2, list), &params, &rectangle, true);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool inside = rectangle.contains(x, y);
            const double expected =
                inside ? KilnTest::get(source, x, y, 2) * 0.5 : KilnTest::get(before, x, y, 2);
            ASSERT_EQ(KilnTest::get(output, x, y, 2), expected) << x << "," << y;
        }
}

TEST(CpuDevice, ResultIsTheSameWhateverTheNumberOfThreads) {
    // Large enough to be cut into many bands; odd sizes so bands are uneven.
    const Info info{{-3, 5, 389, 1004}, 3, Pixel::ComponentType::Float};
    std::mt19937 rng(24);
    const Image reference = [&] {
        const DevicePtr one = detail::createCpuDevice(1);
        const Image source = KilnTest::randomImage(info, rng, one);
        Image out(info, one);
        Kernels::scaleImage(source, out, 1.5f);
        return out;
    }();
    for (unsigned threads : {2u, 3u, 8u}) {
        const DevicePtr device = detail::createCpuDevice(threads);
        rng.seed(24);
        const Image source = KilnTest::randomImage(info, rng, device);
        Image out(info, device);
        Kernels::scaleImage(source, out, 1.5f);
        EXPECT_EQ(KilnTest::firstDifference(reference, out), -1) << threads << " threads";
    }
}

TEST(CpuDevice, LaunchesFromSeveralThreadsAtOnceAllComplete) {
    const DevicePtr device = detail::createCpuDevice(4);
    const Info info{{0, 0, 512, 300}, 1, Pixel::ComponentType::UnsignedInt};
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 rng(100 + t);
            const Image source = KilnTest::randomImage(info, rng, device);
            Image out(info, device);
            for (int i = 0; i < 20; ++i) {
                out.clear();
                Kernels::copyImage(source, out);
                failures[t] += KilnTest::firstDifference(source, out) != -1;
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}
