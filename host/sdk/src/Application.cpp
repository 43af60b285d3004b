// SPDX-License-Identifier: Apache-2.0
#include "px/image/Application.h"

#include <atomic>

namespace PX {
namespace Image {

namespace {
std::atomic<bool> g_guiActive{false};
}  // namespace

bool Application::IsGUIActive() { return g_guiActive.load(std::memory_order_acquire); }

void Application::setGUIActive(bool active) {
    g_guiActive.store(active, std::memory_order_release);
}

}  // namespace Image
}  // namespace PX
