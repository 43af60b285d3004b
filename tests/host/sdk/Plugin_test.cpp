// SPDX-License-Identifier: Apache-2.0
#include "px/image/Plugin.h"

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "../../TestSupport.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Iop.h"
#include "px/image/Node.h"

using namespace PX::Image;

namespace {

const std::string kDir = TEST_PLUGIN_DIR;

std::string loadError(const std::string& file) {
    return TestSupport::thrown<PluginError>([&] { Plugins::load(file); });
}

}  // namespace

TEST(PluginRegistry, LoadedPluginRegistersItsDescription) {
    ASSERT_EQ(Op::Description::find("TestGradient"), nullptr) << "registered before loading";
    const std::vector<std::string> names = Plugins::load(kDir + "/TestGradient.so");
    ASSERT_EQ(names, std::vector<std::string>{"TestGradient"});
    const Op::Description* d = Op::Description::find("TestGradient");
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->build, "test build");
    EXPECT_NE(d->pluginFile.find("TestGradient.so"), std::string::npos);

    // Loading the same file again registers nothing new.
    EXPECT_EQ(Plugins::load(kDir + "/TestGradient.so"), names);
    int count = 0;
    for (const Op::Description* each : Op::Description::all())
        count += std::string(each->name) == "TestGradient";
    EXPECT_EQ(count, 1);
}

TEST(PluginRegistry, NodeOfAPluginClassRendersThroughTheSdk) {
    setenv("VIREO_PLUGIN_PATH", kDir.c_str(), 1);
    std::unique_ptr<Node> node = Node::create("TestGradient", "Gradient1");
    unsetenv("VIREO_PLUGIN_PATH");
    auto* iop = dynamic_cast<PlanarIop*>(node->op());
    ASSERT_NE(iop, nullptr);
    node->setKnobFromUser("width", "3");
    node->setKnobFromUser("gain", "0.5");
    node->storeKnobs(iop->outputContext());
    iop->validate();
    EXPECT_EQ(iop->info().box(), Box(0, 0, 3, 2));

    ImagePlane plane = iop->fetchPlane(iop->info().box(), Mask_RGBA);
    ASSERT_TRUE(plane.hasBuffer());
    EXPECT_FLOAT_EQ(plane.at(2, 1, plane.chanNo(Chan_Red)), 1.0f);
    EXPECT_FLOAT_EQ(plane.at(2, 1, plane.chanNo(Chan_Green)), 1.0f);

    // A user error inside the render becomes the node's error; the plane has no pixels.
    node->setKnobFromUser("gain", "-1");
    node->storeKnobs(iop->outputContext());
    iop->validate();
    ImagePlane failed = iop->fetchPlane(iop->info().box(), Mask_RGBA);
    EXPECT_FALSE(failed.hasBuffer());
    EXPECT_EQ(node->errorMessage(), "gain must not be negative");
}

TEST(PluginRegistry, FailuresNameTheFileAndTheReason) {
    const std::string broken = loadError(kDir + "/BrokenPlugin.so");
    EXPECT_NE(broken.find("BrokenPlugin.so"), std::string::npos) << broken;
    EXPECT_NE(broken.find("functionThatIsDefinedNowhere"), std::string::npos) << broken;

    const std::string empty = loadError(kDir + "/EmptyPlugin.so");
    EXPECT_NE(empty.find("EmptyPlugin.so: loaded, but registers no operator"), std::string::npos)
        << empty;

    const std::string missing = loadError(kDir + "/NoSuchPlugin.so");
    EXPECT_NE(missing.find("NoSuchPlugin.so: no such file"), std::string::npos) << missing;

    const std::string garbageFile = ::testing::TempDir() + "/NotALibrary.so";
    std::ofstream(garbageFile) << "this is not a shared object";
    const std::string garbage = loadError(garbageFile);
    EXPECT_NE(garbage.find("NotALibrary.so: cannot load"), std::string::npos) << garbage;

    // A class no plug-in provides: the error names the class and the path searched.
    setenv("VIREO_PLUGIN_PATH", "/nonexistent/plugins", 1);
    const std::string unknown =
        TestSupport::thrown<std::runtime_error>([] { Node::create("NoSuchClass", "x"); });
    EXPECT_NE(unknown.find("'NoSuchClass'"), std::string::npos) << unknown;
    EXPECT_NE(unknown.find("/nonexistent/plugins"), std::string::npos) << unknown;
    unsetenv("VIREO_PLUGIN_PATH");
}

// A class name becomes a file name: only plain names are looked up, only in the plug-in folders.
TEST(PluginRegistry, ClassNamesWithPathsAreRefusedBeforeAnyLookUp) {
    setenv("VIREO_PLUGIN_PATH", kDir.c_str(), 1);
    for (const std::string bad :
         {"../plugins/TestPlugin", "/abs/TestPlugin", "a.b", "", "9x", "Test Plugin"}) {
        EXPECT_FALSE(Plugins::validClassName(bad)) << bad;
        EXPECT_FALSE(Plugins::loadFor(bad)) << bad;
    }
    EXPECT_TRUE(Plugins::validClassName("V_DizuvaRuvi"));
    unsetenv("VIREO_PLUGIN_PATH");
}
