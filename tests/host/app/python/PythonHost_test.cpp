// SPDX-License-Identifier: Apache-2.0
#include "python/PythonHost.h"

#include <sstream>

#include <gtest/gtest.h>
#include <pybind11/embed.h>

#include "../../../TestSupport.h"
#include "CommandLine.h"
#include "px/image/Node.h"
#include "px/image/UndoStack.h"
#include "python/PythonCommandLine.h"

namespace py = pybind11;
using namespace Vireo;
using PX::Image::Host;
using PX::Image::Node;
using TestSupport::writeTempFile;

namespace {

// One interpreter for the whole binary: the hosts find it running and leave it be.
struct Interpreter : ::testing::Environment {
    void SetUp() override { py::initialize_interpreter(); }
    void TearDown() override { py::finalize_interpreter(); }
};
const auto* const kInterpreter = ::testing::AddGlobalTestEnvironment(new Interpreter);

// A host that reports a cancel once `framesBeforeCancel` frames have started.
class CancellingHost : public PythonHost {
public:
    using PythonHost::PythonHost;
    bool cancelled(Node*) override { return m_asked++ >= framesBeforeCancel; }
    int framesBeforeCancel = 1000;

private:
    int m_asked = 0;
};

struct PythonHostTest : ::testing::Test {
    void SetUp() override {
        PX::Image::UndoStack::instance().clear();
        Host::install(&host);
        node = host.addNode("TestRecorder", "");
    }
    void TearDown() override { Host::install(nullptr); }
    void run(const std::string& code) { py::exec("import vireo\n" + code); }

    std::ostringstream log;
    CancellingHost host{log};
    Node* node = nullptr;
};

}  // namespace

TEST_F(PythonHostTest, AFailingButtonScriptIsReportedWithItsTracebackAndChangesNothing) {
    const size_t steps = PX::Image::UndoStack::instance().undoCount();
    node->pressKnob("failAfterEdit");
    EXPECT_EQ(PX::Image::UndoStack::instance().undoCount(), steps);
    EXPECT_EQ(host.failedScripts(), 1);
    const std::string text = log.str();
    EXPECT_NE(text.find("error: [TestRecorder1] a button script failed"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Traceback (most recent call last)"), std::string::npos) << text;
    EXPECT_NE(text.find("line 3"), std::string::npos) << "the traceback points at the line\n"
                                                      << text;
    EXPECT_NE(text.find("RuntimeError: failing on purpose"), std::string::npos) << text;

    EXPECT_EQ(host.thisNode(), nullptr) << "thisNode is unbound after the script";
    EXPECT_FALSE(host.runScript(nullptr, "pass"));
}

// Answers that only Python gives: a standing answer and the panels.
TEST_F(PythonHostTest, EveryAnswerIsLoggedWithItsQuestionAndWhereItCameFrom) {
    run("vireo.setAskAnswer(True)\n"
        "assert vireo.ask('Q3') is True\n"
        "p = vireo.Panel('Range')\n"
        "p.addSingleLineInput('from:', 1)\n"
        "assert not p.show()\n"
        "vireo.setPanelAnswers({'from:': 4})\n"
        "assert p.show() and p.value('from:') == '4'\n");
    const std::string text = log.str();
    for (const char* line : {"question: Q3 -> yes (standing answer)",
                             "panel: Range -> cancelled (no answer queued",
                             "panel: Range: from:=4 -> confirmed"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST_F(PythonHostTest, ACancelStopsBetweenFramesAndTheEndStepStillRuns) {
    host.framesBeforeCancel = 2;
    run("n = vireo.toNode('TestRecorder1')\n"
        "assert vireo.execute(n, 1, 5) is False\n"
        "assert n['log'].value().splitlines() == "
        "['begin', 'execute 1 count 5', 'execute 2 count 5', 'end']\n");
    EXPECT_NE(log.str().find("[TestRecorder1] cancelled after 2 frames"), std::string::npos)
        << log.str();
}

// Loading, running with arguments and saving after the script: vireo_python_with_script and
// the robustness case "SIGINT during Match".
TEST(PythonCommandLine, TheScriptsFailureOrExitStatusIsTheCommandsStatus) {
    std::ostringstream out, err;
    const std::string raising = writeTempFile("raise.py", "x = 1\nraise ValueError('bad input')\n");
    EXPECT_EQ(PythonCommandLine(out, err).run({"-t", raising}), 1);
    EXPECT_NE(err.str().find("ValueError: bad input"), std::string::npos) << err.str();
    EXPECT_EQ(PythonCommandLine(out, err).run(
                  {"-t", writeTempFile("exit.py", "import sys\nsys.exit(3)\n")}),
              3);
    EXPECT_EQ(PythonCommandLine(out, err).run({"-t", ::testing::TempDir() + "missing.py"}), 1);
    EXPECT_EQ(CommandLine(out, err).run({"-t", raising}), 2) << "a host without Python says so";
}
