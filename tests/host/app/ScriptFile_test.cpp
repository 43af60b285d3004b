// SPDX-License-Identifier: Apache-2.0
#include "ScriptFile.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "../../TestSupport.h"
#include "../sdk/TestOps.h"
#include "ImageFiles.h"
#include "ScriptError.h"
#include "px/image/ArrayKnob.h"
#include "px/image/OutputContext.h"
#include "px/image/UndoStack.h"

using namespace PX::Image;
using Vireo::Graph;
using Vireo::ScriptError;
using Vireo::ScriptFile;

namespace {

std::string knobText(Node* node, const std::string& name) {
    return node->knob(name)->toScriptText();
}

class ScriptFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedViews = Views::names();
        m_path = TestImages::scratchFolder() + "/test.vireo";
    }
    void TearDown() override { Views::setNames(m_savedViews); }

    // Loads `text` from a file; the file name is m_path.
    std::unique_ptr<Graph> load(const std::string& text) {
        std::ofstream(m_path) << text;
        m_file = ScriptFile(m_path);
        return m_file.load();
    }
    std::string loadError(const std::string& text) {
        return TestSupport::thrown<ScriptError>([&] { load(text); });
    }

    std::vector<std::string> m_savedViews;
    std::string m_path;
    ScriptFile m_file{""};
};

}  // namespace

TEST_F(ScriptFileTest, SaveLoadSaveIsByteStable) {
    Graph graph;
    graph.setViews({"main", "cam1", "cam2"});
    graph.setFrameRange(3, 12);
    Node* read = graph.addNode("Read", "Read1");
    read->setKnobFromUser("file", "my shots/%V.####.exr");
    Node* keys = graph.addNode("TestRecorder");
    keys->setKnobFromUser("gain", "{curve 1=0.5 10=2.25}");
    keys->setKnobFromUser("text", "line one\n  \"two\" {three}\\\n");
    keys->setKnobFromUser("colour", "{0.1 0.2 0.3}");
    keys->setKnobFromUser("session", "not saved");
    graph.connect(read, keys, 1);

    const std::string text = ScriptFile::text(graph);
    EXPECT_EQ(text,
              "# vireo script\n"
              "vireo 1\n"
              "views main cam1 cam2\n"
              "frames 3 12\n"
              "format 2K_LatLong\n"
              "\n"
              "node Read Read1\n"
              "    file \"my shots/%V.####.exr\"\n"
              "end\n"
              "\n"
              "node TestRecorder TestRecorder1\n"
              "    gain {curve 1=0.5 10=2.25}\n"
              "    text \"line one\\n  \\\"two\\\" {three}\\\\\\n\"\n"
              "    colour {0.1 0.2 0.3}\n"
              "end\n"
              "\n"
              "connect Read1 TestRecorder1 1\n");

    Views::setNames({"other"});
    const size_t undoSteps = UndoStack::instance().undoCount();
    std::istringstream in(text);
    ScriptFile file("memory");
    const std::unique_ptr<Graph> loaded = file.read(in);
    EXPECT_EQ(UndoStack::instance().undoCount(), undoSteps) << "loading is not undoable";
    EXPECT_TRUE(file.warnings().empty());
    EXPECT_TRUE(file.errors().empty());
    EXPECT_EQ(ScriptFile::text(*loaded), text);

    Node* back = loaded->node("TestRecorder1");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(static_cast<StringKnob*>(back->knob("text"))->text(),
              "line one\n  \"two\" {three}\\\n");
    auto* gain = static_cast<ArrayKnob*>(back->knob("gain"));
    EXPECT_EQ(gain->getNumKeys(), 2);
    EXPECT_DOUBLE_EQ(gain->get_value_at(5.5), 1.375);
    EXPECT_EQ(Views::names(), (std::vector<std::string>{"main", "cam1", "cam2"}));
}

// Carriage returns in a value (a path pasted with a CR-LF end, text from another system) are
// kept: a line's last '\r' is taken for a CR-LF line end when the script is read.
TEST_F(ScriptFileTest, CarriageReturnsInValuesSurviveSaveAndLoad) {
    Graph graph;
    graph.setViews({"main"});
    Node* read = graph.addNode("Read", "Read1");
    read->setKnobFromUser("file", "shot.exr\r\r");
    Node* keys = graph.addNode("TestRecorder");
    keys->setKnobFromUser("text", "one\r\ntwo\r");
    const std::string text = ScriptFile::text(graph);
    std::istringstream in(text);
    ScriptFile file("memory");
    const std::unique_ptr<Graph> loaded = file.read(in);
    EXPECT_EQ(knobText(loaded->node("Read1"), "file"), knobText(read, "file"));
    EXPECT_EQ(static_cast<StringKnob*>(loaded->node("TestRecorder1")->knob("text"))->text(),
              "one\r\ntwo\r");
    EXPECT_EQ(ScriptFile::text(*loaded), text);

    // A line kept as read (here for a knob the node does not have) saves and loads the same.
    std::istringstream edited(text + "node TestRecorder N\n    later 1\r\r\r\nend\n");
    const std::unique_ptr<Graph> once = file.read(edited);
    std::istringstream savedOnce(ScriptFile::text(*once));
    EXPECT_EQ(ScriptFile::text(*file.read(savedOnce)), ScriptFile::text(*once));
}

// A custom knob may write a braced value over several lines; it loads and saves unchanged.
TEST_F(ScriptFileTest, BracedValuesContinueOverLines) {
    const std::string text =
        "# vireo script\nvireo 1\nviews main\nframes 1 1\nformat 2K_LatLong\n\n"
        "node TestRecorder N\n    colour {1\n 2\n3}\n    count 9\nend\n";
    const std::unique_ptr<Graph> graph = load(text);
    EXPECT_EQ(knobText(graph->node("N"), "colour"), "{1 2 3}");
    EXPECT_EQ(knobText(graph->node("N"), "count"), "9");
}

TEST_F(ScriptFileTest, UnknownKnobWarnsAndTheRestLoads) {
    const std::unique_ptr<Graph> graph =
        load("vireo 1\nnode TestRecorder N\n    bogus 3\n    oldCount 7\nend\n");
    EXPECT_EQ(
        m_file.warnings(),
        std::vector<std::string>{m_path + ":3: node 'N' has no knob 'bogus'; the line is skipped"});
    EXPECT_TRUE(m_file.errors().empty());
    EXPECT_EQ(knobText(graph->node("N"), "count"), "7") << "set through its alias";
}

TEST_F(ScriptFileTest, RefusedValueGivesTheKnobsErrorAndTheRestLoads) {
    const std::unique_ptr<Graph> graph = load(
        "vireo 1\nnode TestRecorder N\n    count abc\n    text \"open\n"
        "    gain 2\nend\nnode TestRecorder M\n    count 500\nend\n");
    EXPECT_EQ(m_file.errors(),
              (std::vector<std::string>{
                  m_path + ":3: node 'N': knob 'count': 'abc' is not a number",
                  m_path + ":4: node 'N': knob 'text': unterminated quoted text \"open",
                  m_path + ":8: node 'M': knob 'count': 500 is outside its range 1 to 100"}));
    EXPECT_EQ(knobText(graph->node("N"), "count"), "5");
    EXPECT_EQ(knobText(graph->node("N"), "gain"), "2");
    EXPECT_EQ(knobText(graph->node("M"), "count"), "5");
}

// Opening a script and saving it loses no line the node could not take, until the knob is set.
TEST_F(ScriptFileTest, LinesTheNodeCannotTakeAreSavedBackAsRead) {
    const std::string kept = "    count 500\n    text \"open\n  future {1\n 2}\n";
    std::unique_ptr<Graph> graph = load("vireo 1\nnode TestRecorder N\n" + kept +
                                        "    gain 2\nend\nnode TestRecorder M\nend\n");
    ASSERT_EQ(m_file.errors().size(), 2u);
    ASSERT_EQ(m_file.warnings().size(), 1u);
    const std::string saved = ScriptFile::text(*graph);
    EXPECT_NE(saved.find("node TestRecorder N\n    count 500\n    gain 2\n    text \"open\n"
                         "  future {1\n 2}\nend\n\nnode TestRecorder M\nend\n"),
              std::string::npos)
        << saved;
    graph = load(saved);
    EXPECT_EQ(ScriptFile::text(*graph), saved) << "loading the saved script keeps them again";

    // Set by the user, a knob writes its own value; the other kept lines stay.
    graph->node("N")->setKnobFromUser("count", "7");
    const std::string edited = ScriptFile::text(*graph);
    EXPECT_EQ(edited.find("count 500"), std::string::npos) << edited;
    EXPECT_NE(edited.find("    count 7\n"), std::string::npos) << edited;
    EXPECT_NE(edited.find("  future {1\n 2}\n"), std::string::npos) << edited;
    graph->removeNode(graph->node("N"));
    EXPECT_EQ(ScriptFile::text(*graph).find("future"), std::string::npos);
}

TEST_F(ScriptFileTest, UnknownClassIsNamed) {
    const std::string error = loadError("vireo 1\nnode NoSuchClass N\nend\n");
    const std::string start = m_path + ":2: unknown node class 'NoSuchClass'";
    EXPECT_EQ(error.substr(0, start.size()), start) << error;
    EXPECT_EQ(error.substr(error.size() - 20), ": node NoSuchClass N") << error;
}

TEST_F(ScriptFileTest, DefectsNameFileAndLineAndQuoteTheLine) {
    Views::setNames({"before"});
    const struct {
        const char* script;
        const char* message;  // after "<file>:"
    } cases[] = {
        {"vireo 2\n", "1: expected \"vireo 1\", the script format and its version: vireo 2"},
        {"vireo 1\n\nframes 1 x\n", "3: expected \"frames FIRST LAST\": frames 1 x"},
        {"vireo 1\nframes 9 2\n", "2: the last frame 2 comes before the first 9: frames 9 2"},
        {"vireo 1\nviews a b a\n", "2: view 'a' is listed twice: views a b a"},
        {"vireo 1\nformat Nope\n", "2: no format is called 'Nope': format Nope"},
        {"vireo 1\nrender all\n", "2: unknown statement 'render': render all"},
        {"vireo 1\nnode Read\nend\n", "2: expected \"node CLASS NAME\": node Read"},
        {"vireo 1\nnode Read R\nend\nnode Read R\nend\n",
         "4: a node called 'R' exists already: node Read R"},
        {"vireo 1\nnode Read 9x\nend\n",
         "2: '9x' is not a node name (a letter or '_', then letters, digits and '_'): node Read "
         "9x"},
        {"vireo 1\nnode Read R\n  file x\n", "2: node 'R' has no \"end\": node Read R"},
        {"vireo 1\nnode TestRecorder N\n  colour {1 2\nend\n",
         "3: unbalanced braces:   colour {1 2"},
        {"vireo 1\nnode Read R\nend\nviews main\n",
         "4: project settings come before the first node: views main"},
        {"vireo 1\nnode Read R\nend\nconnect R S 0\n", "4: no node called 'S': connect R S 0"},
        {"vireo 1\nnode Read R\nend\nnode Write W\nend\nconnect R W 1\n",
         "6: node 'W' has no input 1: connect R W 1"},
        {"vireo 1\nframes 11 2000000000\n",
         "2: frame 2000000000 is outside -100000000 to 100000000: frames 11 2000000000"},
        {"vireo 1\nnode ../plugins/Evil E\nend\n",
         "2: '../plugins/Evil' is not a node class name (a letter or '_', then letters, digits "
         "and '_'; plug-ins are found only on the plug-in path): node ../plugins/Evil E"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(loadError(c.script), m_path + ":" + c.message) << c.script;
        EXPECT_EQ(Views::names(), std::vector<std::string>{"before"}) << "views restored";
    }
}

TEST_F(ScriptFileTest, CyclesAreRefusedNamingTheirNodes) {
    EXPECT_EQ(loadError("vireo 1\nnode TestRecorder A\nend\nnode TestRecorder B\nend\n"
                        "node TestRecorder C\nend\nconnect A B 0\nconnect B C 1\nconnect C A 0\n"),
              m_path +
                  ": the connections would form a cycle: 'A' reads from 'C' reads from 'B' "
                  "reads from 'A'");
    EXPECT_EQ(loadError("vireo 1\nnode TestRecorder A\nend\nconnect A A 1\n"),
              m_path + ": the connections would form a cycle: 'A' reads from 'A'");

    Graph graph;
    Node* a = graph.addNode("TestRecorder", "A");
    Node* b = graph.addNode("TestRecorder", "B");
    graph.connect(a, b, 0);
    graph.connect(a, b, 1);  // twice from one node is no cycle
    EXPECT_EQ(TestSupport::thrown<std::invalid_argument>([&] { graph.connect(b, a, 0); }),
              "cannot connect 'B' to input 0 of 'A': the connections would form a cycle: 'B' "
              "reads from 'A' reads from 'B'");
    EXPECT_EQ(a->input(0), nullptr) << "a refused connection changes nothing";
    EXPECT_TRUE(graph.findCycle().empty());
}

TEST_F(ScriptFileTest, LongInputIsCutInMessages) {
    const std::string word(100000, 'x');
    const std::string error = loadError("vireo 1\n" + word + "\n");
    EXPECT_LT(error.size(), 600u) << "the line is quoted once, cut";
    EXPECT_NE(error.find("... (100000 bytes)"), std::string::npos) << error;
}

TEST_F(ScriptFileTest, AFailedSaveLeavesThePreviousFileAndSaysWhy) {
    Graph graph;
    graph.addNode("TestRecorder", "A");
    const std::string previous = "# the previous script\n";
    std::ofstream(m_path) << previous;
    // A folder as the target: the rename fails, and the previous content (none) and the
    // folder's files stay; no temporary file is left behind.
    const std::string asFolder = TestImages::scratchFolder() + "/a-folder";
    std::filesystem::create_directories(asFolder);
    EXPECT_THROW(ScriptFile::save(graph, asFolder), ScriptError);
    ScriptFile::save(graph, m_path);
    EXPECT_EQ(TestSupport::fileContent(m_path), ScriptFile::text(graph));
    for (const auto& entry : std::filesystem::directory_iterator(TestImages::scratchFolder())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.rfind(".test.", 0) != 0 && name.rfind(".a-folder.", 0) != 0)
            << "temporary file left: " << name;
    }
}
