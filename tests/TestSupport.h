// SPDX-License-Identifier: Apache-2.0
// What tests of several libraries share: the message of the exception a call throws, and
// files written and read whole.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace TestSupport {

/// The what() of the E that `call` throws, or "nothing thrown" when it returns.
template <typename E, typename Call>
std::string thrown(Call&& call) {
    try {
        call();
    } catch (const E& e) {
        return e.what();
    }
    return "nothing thrown";
}

/// Writes `text` to the file `name` in the temporary folder; returns its path.
inline std::string writeTempFile(const std::string& name, const std::string& text) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

/// The whole content of a file; empty when it cannot be read.
inline std::string fileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace TestSupport
