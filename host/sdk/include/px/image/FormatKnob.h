// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "px/image/Format.h"
#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// A format choice, stored into a FormatPair (format and full-size format; equal here, the
/// command-line host has no proxy mode). Script text is the format's name when it has one,
/// otherwise "width height aspect"; reading accepts either and adds an unnamed size to the
/// host's list.
class FormatKnob : public Knob {
public:
    FormatKnob(Node* node,
               std::string name,
               std::string label,
               const Format& initial,
               FormatPair* storage);
    const char* Class() const override { return "Format_Knob"; }

    const Format& value() const { return m_value; }
    /// No knob_changed.
    void set_value(const Format& f) { m_value = f; }

    bool to_script(std::ostream& os, const OutputContext* context, bool quote) const override;
    bool from_script(const char* text) override;
    void append(Hash& hash, const OutputContext* context) const override;
    bool not_default() const override { return m_value != m_default; }
    void reset_to_default() override { m_value = m_default; }
    void store(const OutputContext&) override;
    bool isValueKnob() const override { return true; }

private:
    Format m_default;
    Format m_value;
    FormatPair* m_storage;
};

}  // namespace Image
}  // namespace PX
