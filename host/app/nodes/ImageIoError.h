// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace Vireo {

/// The image library's error text without the newlines and blanks it ends with, ready to go
/// inside a node error.
inline std::string trimmedIoError(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace Vireo
