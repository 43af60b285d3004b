// SPDX-License-Identifier: Apache-2.0
// libFuzzer harness for vireo's script reader: any text must load or be refused with a
// ScriptError (no other exception, crash, hang or unbounded memory), and a script that loads
// must save to a text that loads again and saves to the same text, byte for byte.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "ScriptError.h"
#include "ScriptFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    Vireo::ScriptFile file("fuzz.vireo");
    std::unique_ptr<Vireo::Graph> graph;
    try {
        graph = file.read(in);
    } catch (const Vireo::ScriptError&) {
        return 0;
    }
    const std::string saved = Vireo::ScriptFile::text(*graph);
    graph.reset();
    std::istringstream back(saved);
    Vireo::ScriptFile again("saved.vireo");
    std::unique_ptr<Vireo::Graph> reloaded;
    try {
        reloaded = again.read(back);
    } catch (const Vireo::ScriptError&) {
        std::abort();  // a saved script must load
    }
    if (Vireo::ScriptFile::text(*reloaded) != saved) std::abort();
    return 0;
}
