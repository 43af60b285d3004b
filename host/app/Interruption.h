// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace Vireo {

/// SIGINT and SIGTERM as a user's cancel. While installed, the first of them is remembered
/// (signalNumber()), and the host's cancelled() then reports a cancel, as a press of a
/// panel's Cancel would: the running execution stops at its next check (within a frame for
/// Match and Warp), keeps what it finished, and vireo exits with 128 + the signal's number.
/// The default action comes back at once, so a second signal ends the process right away.
class Interruption {
public:
    /// Installs the handlers (after Python, which would install its own for SIGINT).
    static void install();
    /// Restores the default actions and forgets a signal received.
    static void uninstall();
    /// The first signal received since install(), 0 when none.
    static int signalNumber();
    /// "SIGINT" or "SIGTERM".
    static const char* signalName(int signal);
};

}  // namespace Vireo
