// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// One of the project's views, stored as its view number. Script text is the view's name;
/// reading refuses a name the project lacks.
class OneViewKnob : public Knob {
public:
    OneViewKnob(Node* node, std::string name, std::string label, int* storage);
    const char* Class() const override { return "OneView_Knob"; }

    int value() const { return m_value; }
    /// No knob_changed.
    void set_value(int view) { m_value = view; }
    /// The value a reset goes back to (the node sets it once it knows its views).
    void setDefault(int view) { m_default = view; }

    bool to_script(std::ostream& os, const OutputContext* context, bool quote) const override;
    bool from_script(const char* text) override;
    void append(Hash& hash, const OutputContext* context) const override { hash.append(m_value); }
    bool not_default() const override { return m_value != m_default; }
    void reset_to_default() override { m_value = m_default; }
    void store(const OutputContext&) override;
    bool isValueKnob() const override { return true; }

private:
    int m_default;
    int m_value;
    int* m_storage;
};

}  // namespace Image
}  // namespace PX
