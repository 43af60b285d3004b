// SPDX-License-Identifier: Apache-2.0
// For the tests of refusals: the message of the exception a call throws.
#pragma once

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

}  // namespace TestSupport
