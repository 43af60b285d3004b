// SPDX-License-Identifier: Apache-2.0
#include "Interruption.h"

#include <atomic>
#include <csignal>
#include <initializer_list>

namespace Vireo {

namespace {

std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

extern "C" void onSignal(int signal) {
    int none = 0;
    g_signal.compare_exchange_strong(none, signal);
}

void setAction(int signal, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signal, &action, nullptr);
}

}  // namespace

void Interruption::install() {
    g_signal = 0;
    for (int s : {SIGINT, SIGTERM}) setAction(s, onSignal, SA_RESETHAND | SA_RESTART);
}

void Interruption::uninstall() {
    for (int s : {SIGINT, SIGTERM}) setAction(s, SIG_DFL, 0);
    g_signal = 0;
}

int Interruption::signalNumber() { return g_signal.load(); }

const char* Interruption::signalName(int signal) {
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "a signal";
}

}  // namespace Vireo
