// SPDX-License-Identifier: Apache-2.0
// libFuzzer harness for the camera-match store's reader: any text must be read or refused
// without a crash, a hang or unbounded memory, and what it accepts must save and load back to
// the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analysis/ControlPointsKnob.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Korvane::Research::ControlPointsKnob store(nullptr, "controlPoints");
    if (!store.from_script(text.c_str())) {
        // A partial read is saved marked, and the saved text never loads as whole.
        if (store.incomplete()) {
            const std::string saved = store.toScriptText();
            Korvane::Research::ControlPointsKnob back(nullptr, "controlPoints");
            if (back.from_script(saved.c_str()) || back.toScriptText() != saved) std::abort();
        }
        return 0;
    }
    const std::string saved = store.toScriptText();
    Korvane::Research::ControlPointsKnob back(nullptr, "controlPoints");
    if (!back.from_script(saved.c_str()) || back.toScriptText() != saved) std::abort();
    return 0;
}
