// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// A saved line of text. Script text is quoted when it needs to be.
class StringKnob : public Knob {
public:
    StringKnob(Node* node,
               std::string name,
               std::string label,
               std::string defaultText,
               std::string* storage);
    const char* Class() const override { return "String_Knob"; }

    const std::string& text() const { return m_text; }
    /// No knob_changed.
    void set_text(const std::string& t) { m_text = t; }

    bool to_script(std::ostream& os, const OutputContext* context, bool quote) const override;
    bool from_script(const char* text) override;
    void append(Hash& hash, const OutputContext* context) const override { hash.append(m_text); }
    bool not_default() const override { return m_text != m_default; }
    void reset_to_default() override { m_text = m_default; }
    void store(const OutputContext&) override;
    bool isValueKnob() const override { return true; }

private:
    std::string m_default;
    std::string m_text;
    std::string* m_storage;
};

/// A label line in the panel: text shown, nothing saved.
class TextKnob : public Knob {
public:
    TextKnob(Node* node, std::string name, std::string label, std::string text)
        : Knob(node, std::move(name), std::move(label)), m_text(std::move(text)) {}
    const char* Class() const override { return "Text_Knob"; }
    const std::string& text() const { return m_text; }
    void set_text(const std::string& t) { m_text = t; }

private:
    std::string m_text;
};

}  // namespace Image
}  // namespace PX
