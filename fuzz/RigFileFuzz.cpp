// SPDX-License-Identifier: Apache-2.0
// libFuzzer harness for the rig library's file reader: any file must be read or refused with
// a RigError naming the file (no other exception, crash or hang), a refused file leaves the
// bundle as it was, and a file that reads gives the same bundle every time, whose camera count
// the rig metadata handler agrees with.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigError.h"
#include "vellacam/RigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/rig_fuzz_" + std::to_string(getpid()) + ".json";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    PX::Image::MetaData::Bundle bundle, again;
    bundle.setData("untouched", std::string("yes"));
    const PX::Image::MetaData::Bundle before = bundle;
    try {
        Korvane::Research::ReadRigFile(path, &bundle);
    } catch (const Korvane::Research::RigError& e) {
        if (bundle != before || e.userMessage().rfind(path, 0) != 0) std::abort();
        return 0;
    }
    again.setData("untouched", std::string("yes"));
    Korvane::Research::ReadRigFile(path, &again);
    if (again != bundle) std::abort();
    try {
        Korvane::Research::MetaDataHandler handler;
        handler.updateMetaDataBundle(bundle);
    } catch (const Korvane::Research::RigError&) {
        std::abort();  // what the reader accepted, the handler must take
    }
    return 0;
}
