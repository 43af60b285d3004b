// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// A choice among labelled entries; the value is the entry's index. An entry written
/// "index\tlabel" has that index, the others their position; a toolbar entry
/// "number\ticon\tlabel" shows an icon and has its position. Script text is the chosen label
/// (quoted when needed); reading accepts a label or an index.
class EnumerationKnob : public Knob {
public:
    EnumerationKnob(Node* node,
                    std::string name,
                    std::string label,
                    const std::vector<std::string>& entries,
                    int* storage);
    const char* Class() const override { return "Enumeration_Knob"; }

    int value() const { return m_value; }
    /// No knob_changed. False (value kept) for an index no entry has.
    bool set_value(int index);
    const std::vector<std::string>& labels() const { return m_labels; }
    const std::vector<int>& indices() const { return m_indices; }
    /// The icon of each entry ("" when none).
    const std::vector<std::string>& icons() const { return m_icons; }
    /// The label of the chosen entry, "" when none has the value.
    std::string valueLabel() const;

    bool to_script(std::ostream& os, const OutputContext* context, bool quote) const override;
    bool from_script(const char* text) override;
    void append(Hash& hash, const OutputContext* context) const override { hash.append(m_value); }
    bool not_default() const override { return m_value != m_default; }
    void reset_to_default() override { m_value = m_default; }
    void store(const OutputContext&) override;
    bool isValueKnob() const override { return true; }

private:
    std::vector<std::string> m_labels;
    std::vector<int> m_indices;
    std::vector<std::string> m_icons;
    int m_default;
    int m_value;
    int* m_storage;
};

}  // namespace Image
}  // namespace PX
