// SPDX-License-Identifier: Apache-2.0
#include "px/image/Host.h"

#include <atomic>
#include <cstdio>

#include "px/image/Node.h"

namespace PX {
namespace Image {

namespace {
Host g_defaultHost;
std::atomic<Host*> g_host{&g_defaultHost};
}  // namespace

void Host::progress(Node* node, float fraction) {
    std::fprintf(stderr, "[%s] %3d%%\n", node ? node->name().c_str() : "", int(fraction * 100.0f));
}

void Host::progressMessage(Node* node, const std::string& message) {
    std::fprintf(stderr, "[%s] %s\n", node ? node->name().c_str() : "", message.c_str());
}

void Host::progressDismiss(Node*) {}

bool Host::ask(const std::string& question) {
    std::fprintf(stderr, "question: %s -> no (no one to answer)\n", question.c_str());
    return false;
}

void Host::message(const std::string& text) { std::fprintf(stderr, "message: %s\n", text.c_str()); }

bool Host::runScript(Node* node, const std::string&) {
    std::fprintf(stderr,
                 "ERROR %s: this host cannot run Python scripts\n",
                 node ? node->name().c_str() : "");
    return false;
}

void Host::nodeError(Node* node, const std::string& message) {
    std::fprintf(stderr, "ERROR %s: %s\n", node ? node->name().c_str() : "", message.c_str());
}

void Host::nodeWarning(Node* node, const std::string& message) {
    std::fprintf(stderr, "WARNING %s: %s\n", node ? node->name().c_str() : "", message.c_str());
}

Host& Host::current() { return *g_host.load(); }

void Host::install(Host* host) { g_host.store(host ? host : &g_defaultHost); }

}  // namespace Image
}  // namespace PX
