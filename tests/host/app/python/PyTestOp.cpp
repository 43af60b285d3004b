// SPDX-License-Identifier: Apache-2.0
// PyTestOp: an executable image operator for the scripting tests, with a knob of each kind the
// module converts, an analysis-key knob, and Python-script buttons. It writes what the host
// made it do into its `log` knob, one line per event, so that scripts can read it. Built as a
// plug-in for `vireo -t` and linked into vireo_python_tests.

#include "px/image/ButtonKnob.h"
#include "px/image/EnumerationKnob.h"
#include "px/image/Executable.h"
#include "px/image/Iop.h"
#include "px/image/KnobCallback.h"
#include "px/image/Node.h"

using namespace PX::Image;

namespace {

// The key-execution tail of an analysis button, over the `keys` knob.
const char* const kKeyTail =
    "keysKnob = node['keys']\n"
    "if keysKnob.getNumKeys() == 0:\n"
    "  keysKnob.setKeyAt(min(max(vireo.frame(), node.firstFrame()), node.lastFrame()))\n"
    "indexRange = range(0, keysKnob.getNumKeys())\n"
    "frameRange = vireo.FrameRanges([int(keysKnob.getKeyTime(k)) for k in indexRange])\n"
    "vireo.execute(node, frameRange)\n";

class PyTestOp : public PlanarIop, public Executable {
public:
    explicit PyTestOp(Node* node) : PlanarIop(node), Executable(this) {}
    const char* Class() const override { return "PyTestOp"; }
    int minimum_inputs() const override { return 0; }
    int maximum_inputs() const override { return 1; }
    Executable* executable() override { return this; }

    void knobs(KnobCallback& f) override {
        Int_knob(f, &m_count, "count", "Count")->setRange(1, 100);
        Double_knob(f, &m_gain, "gain", "Gain");
        Bool_knob(f, &m_flag, "flag", "Flag");
        Array_knob(f, m_colour, 3, "colour", "Colour");
        String_knob(f, &m_text, "text", "Text");
        f.make<EnumerationKnob>(
            "mode", "Mode", std::vector<std::string>{"Alpha", "Multi Band", "7\tCustom"}, &m_mode);
        Int_knob(f, &m_first, "first", "First");
        Int_knob(f, &m_last, "last", "Last");
        Int_knob(f, &m_failAt, "failAt", "Fail at");
        Int_knob(f, &m_skip, "skip", "Skip");
        Int_knob(f, &m_key, "keys", "Analysis keys")->set_flag(Knob::INVISIBLE);
        m_log = String_knob(f, nullptr, "log", "Log");
        m_log->set_flag(Knob::DO_NOT_WRITE);
        f.make<ButtonKnob>("press", "Press");
        f.make<PyScriptKnob>("setCount", "Set count", "node['count'].setValue(7)");
        f.make<PyScriptKnob>("failAfterEdit",
                             "Fail",
                             "node['gain'].setValue(3.5)\n"
                             "vireo.thisNode()['keys'].setKeyAt(4)\n"
                             "raise RuntimeError('failing on purpose')\n");
        f.make<PyScriptKnob>("nested",
                             "Nested",
                             "node['gain'].setValue(2)\n"
                             "try:\n"
                             "  node['failAfterEdit'].execute()\n"
                             "except RuntimeError:\n"
                             "  node['flag'].setValue(vireo.thisNode() == node)\n");
        f.make<PyScriptKnob>("keyTail", "Match", kKeyTail);
        f.make<PyScriptKnob>(
            "export",
            "Export",
            "import DizuvaRuviExport2_1; DizuvaRuviExport2_1.exportTracks(vireo.thisNode())");
    }

    int knob_changed(Knob* k) override {
        if (k != m_log) log("changed " + k->name());
        return 1;
    }

    void _validate(bool) override {
        info_().set(Box(0, 0, 2, 2));
        info_().channels(Mask_RGBA);
        info_().first_frame(m_first);
        info_().last_frame(m_last);
    }
    void renderPlane(ImagePlane&) override {}

    void beginExecuting() override { log("begin"); }
    void execute() override {
        const int frame = int(uiContext().frame());
        if (frame == m_failAt) return error("cannot run frame %d", frame);
        log("execute " + std::to_string(frame) + " count " + std::to_string(m_count));
    }
    void endExecuting() override { log("end"); }
    bool skipFrame(double frame) override { return int(frame) == m_skip; }

private:
    void log(const std::string& line) { m_log->set_text(m_log->text() + line + "\n"); }

    int m_count = 5;
    double m_gain = 1.0;
    bool m_flag = false;
    double m_colour[3] = {0.5, 0.5, 0.5};
    std::string m_text = "hello";
    int m_mode = 1;
    int m_first = 1;
    int m_last = 10;
    int m_failAt = -1000;
    int m_skip = -1000;
    int m_key = 0;
    StringKnob* m_log = nullptr;
};

const Op::Description kDescription("PyTestOp",
                                   [](Node* node) -> Op* { return new PyTestOp(node); });

}  // namespace
