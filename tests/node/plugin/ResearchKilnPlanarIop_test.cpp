// SPDX-License-Identifier: Apache-2.0
#include "plugin/ResearchKilnPlanarIop.h"

#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "kiln/Exception.h"
#include "px/image/Application.h"
#include "px/image/Image_Cache.h"
#include "px/image/KnobCallback.h"
#include "px/image/Node.h"

using namespace PX::Image;
using Korvane::Research::ResearchKilnPlanarIop;

namespace {

/// Renders a known ramp per channel and counts its renders; `fail` picks an exception.
class CountingIop : public ResearchKilnPlanarIop {
public:
    explicit CountingIop(Node* node) : ResearchKilnPlanarIop(node) {}
    const char* Class() const override { return "TestCountingIop"; }
    int minimum_inputs() const override { return 0; }
    int maximum_inputs() const override { return 0; }
    void knobs(KnobCallback& f) override { Double_knob(f, &gain, "gain", "Gain"); }
    void _validate(bool) override {
        info_().set(Box(0, 0, 5, 3));
        info_().channels(Mask_StitchMap);
    }
    ImagePlane renderChannelByChannel() {
        m_cacheThisPlane = true;
        ImagePlane plane(info().box(), false, Mask_StitchMap);
        renderPlane(plane);
        return plane;
    }
    void renderHook(ImagePlane& plane) override {
        ++renders;
        if (fail == 1) throw Korvane::Base::MessageException("bad rig");
        if (fail == 2) throw std::runtime_error("device lost");
        if (fail == 3) throw Kiln::OutOfMemoryError("device cpu: out of memory allocating 9 bytes");
        for (int z = 0; z < plane.nComps(); ++z)
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 5; ++x)
                    *plane.writableAt(x, y, z) = float(gain * (x + 10 * y + 100 * z));
    }
    double gain = 1.0;
    int renders = 0;
    int fail = 0;
};

Op* build(Node* node) { return new CountingIop(node); }
const Op::Description kCounting("TestCountingIop", build);

struct PlaneCache : ::testing::Test {
    void SetUp() override {
        setenv("VIREO_CACHE_DIR", (::testing::TempDir() + "/plane-cache").c_str(), 1);
        node = Node::create("TestCountingIop", "Counting1");
        op = static_cast<CountingIop*>(node->op());
        op->validate();
    }
    void TearDown() override { Application::setGUIActive(false); }
    void expectRamp(const ImagePlane& plane, double gain) {
        ASSERT_TRUE(plane.hasBuffer());
        for (int z = 0; z < 2; ++z)
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 5; ++x)
                    ASSERT_EQ(plane.at(x, y, z), float(gain * (x + 10 * y + 100 * z)))
                        << x << y << z;
    }
    std::unique_ptr<Node> node;
    CountingIop* op = nullptr;
};

}  // namespace

TEST_F(PlaneCache, WithTheGUIAPlaneIsRenderedOnceAndServedFromTheDiskCache) {
    Application::setGUIActive(true);
    expectRamp(op->renderChannelByChannel(), 1.0);
    expectRamp(op->renderChannelByChannel(), 1.0);
    EXPECT_EQ(op->renders, 1);

    // Each channel is an entry of its own on disk.
    Hash key = op->hash();
    key.append(Chan_StitchMap_V);
    EXPECT_TRUE(Image_Cache::mainCache().open(key));

    // New knob values are a new hash: a new render.
    node->setKnobFromUser("gain", "2");
    node->storeKnobs(op->outputContext());
    expectRamp(op->renderChannelByChannel(), 2.0);
    EXPECT_EQ(op->renders, 2);
}

TEST_F(PlaneCache, WithoutTheGUINothingIsCached) {
    node->setKnobFromUser("gain", "3");  // a hash no other test caches
    node->storeKnobs(op->outputContext());
    expectRamp(op->renderChannelByChannel(), 3.0);
    expectRamp(op->renderChannelByChannel(), 3.0);
    EXPECT_EQ(op->renders, 2);
    Hash key = op->hash();
    key.append(Chan_StitchMap_U);
    EXPECT_FALSE(Image_Cache::mainCache().is_cached(key));
}

TEST_F(PlaneCache, FailuresBecomeNodeErrors) {
    op->fail = 1;
    op->renderChannelByChannel();
    EXPECT_EQ(op->errorMessage(), "bad rig");
    node->clearError();
    op->fail = 2;
    op->renderChannelByChannel();
    EXPECT_EQ(op->errorMessage(), "Exception while running kernel on device");
    // A device out of memory reaches the host as std::bad_alloc, and its render names the size.
    node->clearError();
    op->fail = 3;
    EXPECT_THROW(op->renderChannelByChannel(), std::bad_alloc);
    op->renderStripe(0, Mask_StitchMap);
    EXPECT_EQ(op->errorMessage(), "out of memory for a 5 x 3 image of 2 channels");

    node->clearError();
    node->setAborted(true);
    op->fail = 0;
    const int before = op->renders;
    op->renderChannelByChannel();
    EXPECT_EQ(op->renders, before) << "an aborted render does not run";
    EXPECT_FALSE(op->hasError());
}
