// SPDX-License-Identifier: Apache-2.0
#include "nodes/ReadNode.h"

#include <fstream>

#include <gtest/gtest.h>

#include "vellacam/RigFile.h"

#include "Graph.h"
#include "ImageFiles.h"
#include "ScriptFile.h"
#include "px/image/OutputContext.h"

using namespace PX::Image;
using Vireo::ReadNode;

namespace {

class ReadNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedViews = Views::names();
        m_dir = TestImages::scratchFolder();
    }
    void TearDown() override { Views::setNames(m_savedViews); }

    // A Read of `file`, knobs stored and validated.
    void read(const std::string& file) {
        m_node = m_graph.addNode("Read", "Read1");
        m_node->setKnobFromUser("file", file);
        m_node->storeKnobs(m_node->op()->outputContext());
        static_cast<ReadNode*>(m_node->op())->validate();
    }

    std::vector<std::string> m_savedViews;
    std::string m_dir;
    Vireo::Graph m_graph;
    Node* m_node = nullptr;
};

}  // namespace

namespace {

// A valid rig file of `n` fisheye cameras around the horizon.
std::string rigText(int n) {
    std::string cameras;
    for (int c = 0; c < n; ++c)
        cameras += std::string(c ? "," : "") +
                   R"({"format": {"width": 2, "height": 2}, "projection": "fisheye",
                       "focal_length": 8, "position": [0, 0, 0.1], "rotation": [0, )" +
                   std::to_string(c * 120) + ", 0]}";
    return R"({"version": 1, "convergence": 2.5, "cameras": [)" + cameras + "]}";
}

}  // namespace

TEST_F(ReadNodeTest, RigFileBecomesTheRigLibrarysMetadata) {
    const std::string rig = m_dir + "/rig.json";
    std::ofstream(rig) << rigText(2);
    TestImages::write(m_dir + "/img.exr", TestImages::pattern(2, 2, 3, 1));
    read(m_dir + "/img.exr");
    m_node->setKnobFromUser("rig", rig);

    MetaData::Bundle expected;
    Korvane::Research::ReadRigFile(rig, &expected);
    const MetaData::Bundle bundle = m_node->op()->fetchMetaData();
    EXPECT_EQ(bundle, expected);
    ASSERT_NE(bundle.get<int>("vellacam/cameras"), nullptr);
    EXPECT_EQ(*bundle.get<int>("vellacam/cameras"), 2);
}

TEST_F(ReadNodeTest, BadRigFilesNameTheFileAndTheProblem) {
    const std::string rig = m_dir + "/rig.json";
    TestImages::write(m_dir + "/img.exr", TestImages::pattern(2, 2, 3, 1));
    read(m_dir + "/img.exr");

    std::ofstream(rig) << "{\n  \"cameras\": [1, 2,]\n}\n";
    m_node->setKnobFromUser("rig", rig);
    EXPECT_TRUE(m_node->op()->fetchMetaData().empty());
    EXPECT_EQ(m_node->errorMessage(), rig + ":2: not valid JSON");
    EXPECT_EQ(Views::names(), std::vector<std::string>{"main"}) << "no views from a bad rig";

    m_node->clearError();
    std::ofstream(rig) << R"({"version": 1, "cameras": [{"format": {"width": 2, "height": 2},
                       "projection": "fisheye", "focal_length": 8, "position": [0, 0],
                       "rotation": [0, 0, 0]}]})";
    m_node->setKnobFromUser("rig", rig + " ");  // a new text, so the knob reads the file again
    m_node->setKnobFromUser("rig", rig);
    EXPECT_TRUE(m_node->op()->fetchMetaData().empty());
    EXPECT_EQ(m_node->errorMessage().rfind(rig + ": 'cameras[0].position'", 0), 0u)
        << m_node->errorMessage();
}

TEST_F(ReadNodeTest, RigAddsTheMissingCameraViewsAndTheScriptRecordsThem) {
    Views::setNames({"cam2", "left"});
    const std::string rig = m_dir + "/rig.json";
    std::ofstream(rig) << rigText(3);
    m_node = m_graph.addNode("Read", "Read1");
    m_node->setKnobFromUser("rig", rig);
    const std::vector<std::string> gained{"cam2", "left", "main", "cam1", "cam3"};
    EXPECT_EQ(Views::names(), gained);

    // Loading a script with that rig gains them too, after the script's own views.
    const std::string script = Vireo::ScriptFile::text(m_graph);
    EXPECT_NE(script.find("\nviews cam2 left main cam1 cam3\n"), std::string::npos) << script;
    std::istringstream in("vireo 1\nviews right\nnode Read R\n    rig " + rig + "\nend\n");
    Vireo::ScriptFile file("in memory");
    file.read(in);
    EXPECT_EQ(Views::names(), (std::vector<std::string>{"right", "main", "cam1", "cam2", "cam3"}));
}
