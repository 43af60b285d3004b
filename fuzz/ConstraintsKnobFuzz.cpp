// SPDX-License-Identifier: Apache-2.0
// libFuzzer harness for the line-constraint store's reader: any text must be read or refused
// without a crash, a hang or unbounded memory, and what it accepts must save and load back to
// the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "constraints/ConstraintsKnob.h"
#include "px/image/UndoStack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Knobs without a node stay out of the process-wide undo history, which would outlive them.
    static const bool suspended = (PX::Image::UndoStack::instance().suspend(), true);
    (void)suspended;
    const std::string text(reinterpret_cast<const char*>(data), size);
    Korvane::Research::ConstraintsKnob store(nullptr, "constraints");
    if (!store.from_script(text.c_str())) return 0;
    const std::string saved = store.toScriptText();
    Korvane::Research::ConstraintsKnob back(nullptr, "constraints");
    if (!back.from_script(saved.c_str()) || back.toScriptText() != saved) std::abort();
    return 0;
}
