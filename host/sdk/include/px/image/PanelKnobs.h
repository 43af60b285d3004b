// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// Panel layout: these knobs hold no value and save nothing.

/// Starts a tab of the panel; the knobs after it belong to it.
class TabKnob : public Knob {
public:
    TabKnob(Node* node, std::string label) : Knob(node, "", std::move(label)) {}
    const char* Class() const override { return "Tab_Knob"; }
};

/// Begins (or, with `end`, closes) a viewer toolbar at a host position code, with toolbar
/// flags.
class ToolbarKnob : public Knob {
public:
    ToolbarKnob(Node* node, bool end, int position = 0, uint64_t toolbarFlags = 0)
        : Knob(node, "", ""), m_end(end), m_position(position), m_toolbarFlags(toolbarFlags) {}
    const char* Class() const override { return m_end ? "EndToolbar_Knob" : "BeginToolbar_Knob"; }
    bool isEnd() const { return m_end; }
    int position() const { return m_position; }
    uint64_t toolbarFlags() const { return m_toolbarFlags; }

private:
    bool m_end;
    int m_position;
    uint64_t m_toolbarFlags;
};

/// A gap of `width` pixels in a row of the panel or a toolbar.
class SpacerKnob : public Knob {
public:
    SpacerKnob(Node* node, int width) : Knob(node, "", ""), m_width(width) {}
    const char* Class() const override { return "Spacer_Knob"; }
    int width() const { return m_width; }

private:
    int m_width;
};

}  // namespace Image
}  // namespace PX
