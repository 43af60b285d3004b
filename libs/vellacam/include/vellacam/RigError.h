// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "base/Exception.h"

namespace Korvane {
namespace Research {

/// Rig metadata or a rig file that cannot be read. The message is written for the user: it
/// names the file (or the metadata key) and the offending field.
class RigError : public Base::MessageException {
public:
    explicit RigError(const std::string& message) : Base::MessageException(message) {}
};

}  // namespace Research
}  // namespace Korvane
