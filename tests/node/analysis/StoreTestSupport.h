// SPDX-License-Identifier: Apache-2.0
// Shared by the store tests: knobs made without a node must stay out of the process-wide undo
// history (it would outlive them), and change notifications are counted.
#pragma once

#include <gtest/gtest.h>

#include "px/image/Knob.h"
#include "px/image/UndoStack.h"

namespace NodeTests {

class DetachedStoreTest : public ::testing::Test {
protected:
    void SetUp() override { PX::Image::UndoStack::instance().suspend(); }
    void TearDown() override { PX::Image::UndoStack::instance().resume(); }

    /// Counts the knob's changed() calls into `count`.
    static void countChanges(PX::Image::Knob& knob, int& count) {
        knob.addCallback([&count](PX::Image::Knob*) { ++count; });
    }
};

}  // namespace NodeTests
