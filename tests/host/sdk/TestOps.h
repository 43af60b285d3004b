// SPDX-License-Identifier: Apache-2.0
// Operators for the SDK, vireo and scripting tests: one with a knob of each standard kind that
// records what the host tells it (also built as the plug-in TestRecorder.so for `vireo -t`),
// and an image source that cannot be executed.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "px/image/Executable.h"
#include "px/image/Format.h"
#include "px/image/Host.h"
#include "px/image/Iop.h"
#include "px/image/KnobCallback.h"
#include "px/image/Node.h"
#include "px/image/StringKnob.h"
#include "px/image/UndoStack.h"

namespace TestOps {

using namespace PX::Image;

/// A custom store knob: a list of whole numbers saved as "count v1 v2 ...".
class ListKnob : public Knob {
public:
    ListKnob(Node* node, std::string name) : Knob(node, name, name) {}
    const char* Class() const override { return "TestListKnob"; }
    bool to_script(std::ostream& os, const OutputContext*, bool quote) const override;
    bool from_script(const char* text) override;
    void append(Hash& hash, const OutputContext*) const override;
    bool not_default() const override { return !values.empty(); }
    std::vector<int> values;
};

/// Records what the host makes it do, as lines in `log` and in its knob "log" (for scripts).
/// Execution runs every frame but `skip`; frame `failAt` fails with a node error, `throwAt`
/// throws. Its buttons run Python: a plain edit, a failure after edits, a nested failing
/// press, the key-execution tail of an analysis button, and an export from a missing module.
class Recorder : public PlanarIop, public Executable {
public:
    explicit Recorder(Node* node) : PlanarIop(node), Executable(this) {}
    const char* Class() const override { return "TestRecorder"; }
    int minimum_inputs() const override { return 0; }
    int maximum_inputs() const override { return 2; }
    void knobs(KnobCallback& f) override;
    int knob_changed(Knob* k) override;
    Executable* executable() override { return this; }
    void _validate(bool) override;
    void renderPlane(ImagePlane&) override {}

    void beginExecuting() override { record("begin"); }
    void execute() override;
    void endExecuting() override { record("end"); }
    bool skipFrame(double frame) override { return int(frame) == skip; }

    int count = 5;
    double gain = 1.0;
    bool flag = false;
    std::string text = "hello";
    std::string session;  // never saved
    double colour[3] = {0.5, 0.5, 0.5};
    int first = 1, last = 10, skip = -1000, failAt = -1000, keys = 0;
    int throwAt = -1000;
    int warnAt = -1000;  // the frame that raises a node warning
    ListKnob* list = nullptr;
    int mode = 1;
    FormatPair format;
    std::set<int> views;
    std::vector<std::string> log;

private:
    void record(const std::string& line);
    StringKnob* m_log = nullptr;
};

/// A host that keeps the progress it is shown and the scripts it is asked to run, and
/// answers a cancel and a script's success as told.
class RecordingHost : public Host {
public:
    void progress(Node*, float fraction) override { shown.push_back(fraction); }
    void progressDismiss(Node*) override { ++dismissed; }
    bool cancelled(Node*) override { return cancel; }
    bool runScript(Node* node, const std::string& script) override {
        scripts.push_back(node->name() + ": " + script);
        return scriptsSucceed;
    }
    std::vector<float> shown;
    int dismissed = 0;
    bool cancel = false;
    std::vector<std::string> scripts;
    bool scriptsSucceed = true;
};

/// A fresh Recorder1 node and an empty undo stack for each test.
struct RecorderTest : ::testing::Test {
    void SetUp() override {
        UndoStack::instance().clear();
        node = Node::create("TestRecorder", "Recorder1");
        op = static_cast<Recorder*>(node->op());
    }
    std::string text(const std::string& name) { return node->knob(name)->toScriptText(); }

    std::unique_ptr<Node> node;
    Recorder* op = nullptr;
};

/// An image source without an executable part.
class Source : public PlanarIop {
public:
    explicit Source(Node* node) : PlanarIop(node) {}
    const char* Class() const override { return "TestSource"; }
    int maximum_inputs() const override { return 0; }
    void _validate(bool) override { info_().set(Box(0, 0, 2, 2)); }
    void renderPlane(ImagePlane&) override {}
};

}  // namespace TestOps
