// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <stdexcept>

namespace Vireo {

/// A script that cannot be loaded or saved. what() names the file and, for a bad line, its
/// number, and quotes the line: "<file>:<line>: <what is wrong>: <the line>".
class ScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace Vireo
