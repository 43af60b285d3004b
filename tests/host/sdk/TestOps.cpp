// SPDX-License-Identifier: Apache-2.0
#include "TestOps.h"

#include <sstream>
#include <stdexcept>

#include "px/image/ButtonKnob.h"
#include "px/image/EnumerationKnob.h"
#include "px/image/FormatKnob.h"
#include "px/image/Node.h"
#include "px/image/ViewsKnob.h"

namespace TestOps {

bool ListKnob::to_script(std::ostream& os, const OutputContext*, bool quote) const {
    std::ostringstream text;
    text << values.size();
    for (int v : values) text << ' ' << v;
    os << (quote ? quoteScriptText(text.str()) : text.str());
    return true;
}

bool ListKnob::from_script(const char* text) {
    std::istringstream in(text);
    size_t n = 0;
    if (!(in >> n)) {
        values.clear();
        return std::string(text).find_first_not_of(' ') == std::string::npos;
    }
    std::vector<int> read(n);
    for (int& v : read)
        if (!(in >> v)) return false;
    values = std::move(read);
    return true;
}

void ListKnob::append(Hash& hash, const OutputContext*) const {
    for (int v : values) hash.append(v);
}

namespace {

// The key-execution tail of an analysis button, over the `keys` knob.
const char* const kKeyTail =
    "keysKnob = node['keys']\n"
    "if keysKnob.getNumKeys() == 0:\n"
    "  keysKnob.setKeyAt(min(max(vireo.frame(), node.firstFrame()), node.lastFrame()))\n"
    "indexRange = range(0, keysKnob.getNumKeys())\n"
    "frameRange = vireo.FrameRanges([int(keysKnob.getKeyTime(k)) for k in indexRange])\n"
    "vireo.execute(node, frameRange)\n";

}  // namespace

void Recorder::knobs(KnobCallback& f) {
    Int_knob(f, &count, "count", "Count")->setRange(1, 100);
    Double_knob(f, &gain, "gain", "Gain");
    Bool_knob(f, &flag, "flag", "Flag");
    String_knob(f, &text, "text", "Text");
    Array_knob(f, colour, 3, "colour", "Colour");
    list = f.make<ListKnob>("list");
    Text_knob(f, "A heading");
    Alias_knob(f, "oldCount", "count");
    String_knob(f, &session, "session")->set_flag(Knob::DO_NOT_WRITE);
    f.make<EnumerationKnob>(
        "mode", "Mode", std::vector<std::string>{"Alpha", "Multi Band", "7\tCustom"}, &mode);
    f.make<FormatKnob>("format", "Format", *Format::find("2K_LatLong"), &format);
    f.make<ViewsKnob>("views", "Views", &views);
    Int_knob(f, &first, "first", "First");
    Int_knob(f, &last, "last", "Last");
    Int_knob(f, &failAt, "failAt", "Fail at");
    Int_knob(f, &skip, "skip", "Skip");
    Int_knob(f, &keys, "keys", "Analysis keys")->set_flag(Knob::INVISIBLE);
    m_log = String_knob(f, nullptr, "log", "Log");
    m_log->set_flag(Knob::DO_NOT_WRITE | Knob::NO_RERENDER);
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

int Recorder::knob_changed(Knob* k) {
    if (k != m_log) record("changed " + k->name());
    return 1;
}

void Recorder::_validate(bool) {
    info_().set(Box(0, 0, 2, 2));
    info_().channels(Mask_RGBA);
    info_().first_frame(first);
    info_().last_frame(last);
}

void Recorder::execute() {
    const int frame = int(uiContext().frame());
    if (frame == failAt) return error("cannot run frame %d", frame);
    record("execute " + std::to_string(frame) + " count " + std::to_string(count));
    if (frame == throwAt) throw std::runtime_error("out of memory, say");
    if (frame == warnAt) warning("frame %d is made without one of its inputs", frame);
    progressFraction(0.5);
}

void Recorder::record(const std::string& line) {
    log.push_back(line);
    if (m_log) m_log->set_text(m_log->text() + line + "\n");
}

namespace {
template <typename T>
Op* build(Node* node) {
    return new T(node);
}
const Op::Description kRecorder("TestRecorder", build<Recorder>);
const Op::Description kSource("TestSource", build<Source>);
}  // namespace

}  // namespace TestOps
