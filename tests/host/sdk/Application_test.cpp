// SPDX-License-Identifier: Apache-2.0
#include "px/image/Application.h"

#include <gtest/gtest.h>

using PX::Image::Application;

// The command-line host never sets the flag, and without it nothing is cached.
TEST(Application, GUIIsInactiveUntilTheInteractiveHostSaysSo) {
    EXPECT_FALSE(Application::IsGUIActive());
    Application::setGUIActive(true);
    EXPECT_TRUE(Application::IsGUIActive());
    Application::setGUIActive(false);
    EXPECT_FALSE(Application::IsGUIActive());
}
