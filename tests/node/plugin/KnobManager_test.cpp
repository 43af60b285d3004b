// SPDX-License-Identifier: Apache-2.0
#include "plugin/KnobManager.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

#include "../TestRigSource.h"
#include "plugin/DizuvaRuviPlugin.h"
#include "px/image/ArrayKnob.h"
#include "px/image/Node.h"

using namespace PX::Image;
using namespace Korvane::Research;
using NodeTests::RigFixture;

TEST(Panel, ANewNodeSavesOnlyItsStoresAndWorksFromItsDefaults) {
    // Nothing but the stores is written for a new node: scripts stay short, and a knob whose
    // declared default disagrees with the member behind it would show up here.
    Views::setNames({"main", "cam1", "cam2"});
    {
        auto bare = Node::create("V_DizuvaRuvi", "DizuvaRuvi1");
        for (const auto& k : bare->knobs()) {
            if (k->name().empty()) continue;
            const bool store = k->name() == "controlPoints" || k->name() == "gridMap" ||
                               k->name() == "constraints";
            EXPECT_EQ(k->not_default(), store) << k->name();
        }
    }
    RigFixture f({"main", "cam1", "cam2"}, 2);
    // The defaults as the analysis and the renderers read them, live and stored.
    f.node->storeKnobs(OutputContext(1, 0));
    const KnobManager& knobs = f.op()->knobManager();
    for (const bool stored : {false, true}) {
        SCOPED_TRACE(stored ? "stored" : "live");
        EXPECT_EQ(knobs.keyStep(stored), 30);
        EXPECT_EQ(knobs.gridSize(stored), (std::array<int, 2>{10, 10}));
        EXPECT_EQ(knobs.outputFormat(stored).format.name(), "2K_LatLong");
    }
}

TEST(Panel, ValuesOutsideAKnobsRangeAreRefusedWithItsMessage) {
    RigFixture f({"main", "cam1"}, 1);
    const struct {
        const char* knob;
        const char* value;
        const char* says;
    } refused[] = {
        {"gridSize", "{1 1}", "knob 'gridSize': 1 is outside its range"},
        {"gridSize", "{1000000 1000000}", "knob 'gridSize': 1000000 is outside its range"},
        {"warpThreshold", "31", "knob 'warpThreshold': 31 is outside its range 0 to 30"},
        {"convergenceDepth", "0", "knob 'convergenceDepth': 0 is outside its range 0.01 to"},
        {"constraintColour", "{0 2 0}", "knob 'constraintColour': 2 is outside its range 0 to 1"},
    };
    for (const auto& r : refused) {
        const std::string before = f.node->knob(r.knob)->toScriptText();
        try {
            f.node->setKnobFromUser(r.knob, r.value);
            ADD_FAILURE() << r.knob << " took " << r.value;
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()).rfind(r.says, 0), 0u) << e.what();
        }
        EXPECT_EQ(f.node->knob(r.knob)->toScriptText(), before) << r.knob << " kept its value";
    }
    // The key step is clamped instead: Key All always has a step to take.
    f.node->setKnobFromUser("keyStep", "0");
    EXPECT_EQ(f.op()->knobManager().keyStep(), 1);
}

TEST(Panel, ConvergenceIsEditableOnlyWhenAutoIsOff) {
    RigFixture f({"main", "cam1"}, 1);
    Knob* depth = f.node->knob("convergenceDepth");
    f.node->op()->knob_changed(Knob::showPanel);
    EXPECT_FALSE(depth->enabled()) << "Auto follows the rig";
    f.node->setKnobFromUser("autoConvergenceDepth", "false");
    EXPECT_TRUE(depth->enabled());
    f.node->setKnobFromUser("autoConvergenceDepth", "true");
    EXPECT_FALSE(depth->enabled());
}

TEST(Panel, OldScriptNamesSetTheirKnobs) {
    RigFixture f({"main", "cam1"}, 1);
    f.node->setKnobFromUser("convergence", "25");
    f.node->setKnobFromUser("isSolved", "true");
    f.node->setKnobFromUser("error", "1.5");
    f.node->setKnobFromUser("rmseThreshold", "12");
    f.node->setKnobFromUser("trackStrength", "3");
    f.node->setKnobFromUser("userTrackStrength", "5");
    KnobManager& knobs = f.op()->knobManager();
    EXPECT_FLOAT_EQ(knobs.convergenceDepth(), 25.0f);
    EXPECT_TRUE(knobs.isWarped());
    EXPECT_FLOAT_EQ(knobs.matchError(), 1.5f);
    EXPECT_FLOAT_EQ(knobs.warpThreshold(), 12.0f);
    EXPECT_FLOAT_EQ(knobs.matchStrength(), 3.0f);
    EXPECT_FLOAT_EQ(knobs.userMatchStrength(), 5.0f);
    // Old names are read, never written.
    for (const auto& k : f.node->knobs()) EXPECT_NE(k->name(), "convergence");
}

// Edited values survive a save and load and reach the members the node reads: a knob bound to
// the wrong member, or to none, leaves the analysis on the old value.
TEST(Panel, EditedValuesSaveLoadBackEqualAndReachTheMembersTheNodeReads) {
    RigFixture f({"main", "cam1", "cam2"}, 2);
    const std::pair<const char*, const char*> edits[] = {
        {"keyStep", "12"},
        {"warpThreshold", "7.5"},
        {"gridSize", "{20 12}"},
        {"matchStrength", "3"},
        {"userMatchStrength", "4"},
        {"spatialSmoothness", "0.25"},
        {"temporalConsistency", "2"},
        {"temporalWindow", "2"},
        {"kernelType", "Gaussian"},
        {"vectorDetail", "0.5"},
        {"trackingStep", "3"},
        {"trackingPatchSize", "21"},
        {"trackingThreshold", "0.3"},
        {"resampleType", "Lanczos"},
        {"cameraOutputMode", "Warped"},
        {"cameraProjectionType", "Latlong"},
        {"autoConvergenceDepth", "false"},
        {"convergenceDepth", "7"},
        {"outputFormat", "HD_1080"},
        {"blendType", "Multi-Band"},
        {"blendSuppression", "0.5"},
        {"constraintColour", "{0.25 0.5 1}"},
        {"outputView", "cam2"},
        {"rotationAngles", "{10 -20 30}"},
        {"mouseRotate", "{0.5 0.5 0.5 0.5}"},
        {"mouseZoom", "1.25"},
        {"analysisKeyframe", "{curve 1=0 11=0 21=0}"},
        {"zoomWindowWHSize", "{300 200}"},
    };
    for (const auto& e : edits) f.node->setKnobFromUser(e.first, e.second);

    auto copy = Node::create("V_DizuvaRuvi", "DizuvaRuvi2");
    for (const auto& k : f.node->knobs()) {
        if (!k->not_default()) continue;
        ASSERT_TRUE(copy->knob(k->name())->from_script(k->toScriptText().c_str())) << k->name();
    }
    for (const auto& k : f.node->knobs()) {
        if (k->name().empty() || !k->isValueKnob()) continue;
        EXPECT_EQ(copy->knob(k->name())->toScriptText(), k->toScriptText()) << k->name();
    }
    copy->setInput(0, f.source.get());
    EXPECT_EQ(copy->op()->hash(), f.node->op()->hash());

    copy->storeKnobs(OutputContext(1, 0));
    const KnobManager& k = static_cast<DizuvaRuviPlugin*>(copy->op())->knobManager();
    EXPECT_EQ(k.keyStep(true), 12);
    EXPECT_FLOAT_EQ(k.warpThreshold(true), 7.5f);
    EXPECT_EQ(k.gridSize(true), (std::array<int, 2>{20, 12}));
    EXPECT_FLOAT_EQ(k.matchStrength(true), 3.0f);
    EXPECT_FLOAT_EQ(k.userMatchStrength(true), 4.0f);
    EXPECT_FLOAT_EQ(k.spatialSmoothness(true), 0.25f);
    EXPECT_FLOAT_EQ(k.temporalConsistency(true), 2.0f);
    EXPECT_EQ(k.temporalWindow(true), 2);
    EXPECT_EQ(k.kernelType(true), KnobManager::KernelType::Gaussian);
    EXPECT_FLOAT_EQ(k.vectorDetail(true), 0.5f);
    EXPECT_EQ(k.trackingStep(true), 3);
    EXPECT_EQ(k.trackingPatchSize(true), 21);
    EXPECT_FLOAT_EQ(k.trackingThreshold(true), 0.3f);
    EXPECT_EQ(k.resampleType(true), 2);
    EXPECT_EQ(k.cameraOutputMode(true), KnobManager::CameraOutputMode::Warped);
    EXPECT_EQ(k.cameraProjectionType(true), KnobManager::CameraProjection::Latlong);
    EXPECT_FALSE(k.autoConvergenceDepth(true));
    EXPECT_FLOAT_EQ(k.convergenceDepth(true), 7.0f);
}

TEST(Panel, WhatChangesTheImageChangesTheHashAndBlendSettingsOnlyOutsideAlpha) {
    RigFixture f({"main", "cam1"}, 1);
    Op* op = f.node->op();
    const Hash alpha = op->hash();
    f.node->setKnobFromUser("blendSuppression", "0.75");
    f.node->setKnobFromUser("expandBlend", "false");
    EXPECT_EQ(op->hash(), alpha) << "suppression and expand do not matter for alpha blending";
    EXPECT_FALSE(f.node->knob("blendSuppression")->visible());

    f.node->setKnobFromUser("blendType", "Multi-Band");
    EXPECT_TRUE(f.node->knob("blendSuppression")->visible());
    EXPECT_TRUE(f.node->knob("expandBlend")->visible());
    const Hash multiBand = op->hash();
    EXPECT_NE(multiBand, alpha);
    f.node->setKnobFromUser("blendSuppression", "0.5");
    EXPECT_NE(op->hash(), multiBand);

    // Exposure compensation matters in every mode.
    f.node->setKnobFromUser("blendType", "Alpha");
    const Hash compensated = op->hash();
    f.node->setKnobFromUser("exposureCompensation", "false");
    EXPECT_NE(op->hash(), compensated);
    EXPECT_TRUE(f.node->knob("exposureCompensation")->visible());
    EXPECT_FALSE(f.op()->knobManager().blending().exposureCompensation());

    // A re-render is due whenever the output can differ: none of these may be left out.
    Hash hash = op->hash();
    const std::pair<const char*, const char*> edits[] = {{"cameraOutputMode", "Warped"},
                                                         {"cameraProjectionType", "Latlong"},
                                                         {"outputFormat", "HD_1080"},
                                                         {"resampleType", "Bilinear"},
                                                         {"vectorDetail", "0.5"}};
    for (const auto& [name, value] : edits) {
        f.node->setKnobFromUser(name, value);
        EXPECT_NE(op->hash(), hash) << name;
        hash = op->hash();
    }

    EXPECT_EQ(BlendingKnobs::smallestLevelSize(2048, 1024, 1.0f), 128);
    EXPECT_EQ(BlendingKnobs::smallestLevelSize(2048, 1024, 0.0f), 1);
}
