// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <set>

#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// A set of the project's views, stored as view numbers. Script text is the view names in
/// view order inside braces, e.g. "{cam1 cam2}"; reading refuses a name the project lacks.
class ViewsKnob : public Knob {
public:
    ViewsKnob(Node* node, std::string name, std::string label, std::set<int>* storage);
    const char* Class() const override { return "Views_Knob"; }

    const std::set<int>& value() const { return m_value; }
    /// No knob_changed.
    void set_value(const std::set<int>& views) { m_value = views; }

    bool to_script(std::ostream& os, const OutputContext* context, bool quote) const override;
    bool from_script(const char* text) override;
    void append(Hash& hash, const OutputContext* context) const override;
    bool not_default() const override { return !m_value.empty(); }
    void reset_to_default() override { m_value.clear(); }
    void store(const OutputContext&) override;
    bool isValueKnob() const override { return true; }

private:
    std::set<int> m_value;
    std::set<int>* m_storage;
};

}  // namespace Image
}  // namespace PX
