// SPDX-License-Identifier: Apache-2.0
// What the make_rig tests share: options from one line of words, and rig files read back.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "SyntheticRig.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/RigFile.h"

namespace MakeRigTest {

inline std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), {}};
}

/// A rig file as the node reads it.
inline Korvane::Research::MetaDataHandler readRigFile(const std::string& path) {
    PX::Image::MetaData::Bundle bundle;
    Korvane::Research::ReadRigFile(path, &bundle);
    Korvane::Research::MetaDataHandler handler;
    handler.updateMetaDataBundle(bundle);
    return handler;
}

/// `rig` written to a rig file and read back.
inline Korvane::Research::MetaDataHandler readBack(const Korvane::MakeRig::SyntheticRig& rig) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("make_rig_test_" + std::to_string(getpid()) + ".json"))
                                 .string();
    rig.writeRigFile(path);
    Korvane::Research::MetaDataHandler back = readRigFile(path);
    std::filesystem::remove(path);
    return back;
}

}  // namespace MakeRigTest
