// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "px/image/ArrayKnob.h"
#include "px/image/StringKnob.h"

namespace PX {
namespace Image {

class Node;

/// Handed to Op::knobs(). Each declaration makes the knob on the node, binds it to the
/// operator's storage and returns it so the operator can set label, tooltip, range, flags.
class KnobCallback {
public:
    explicit KnobCallback(Node* node) : m_node(node) {}
    Node* node() const { return m_node; }
    /// Takes ownership of a knob made by the operator (custom knob classes).
    Knob* add(std::unique_ptr<Knob> knob);
    template <typename K, typename... Args>
    K* make(Args&&... args) {
        auto knob = std::make_unique<K>(m_node, std::forward<Args>(args)...);
        K* raw = knob.get();
        add(std::move(knob));
        return raw;
    }
    /// The knob declared last; null before any.
    Knob* last() const { return m_last; }

private:
    Node* m_node;
    Knob* m_last = nullptr;
};

ArrayKnob* Int_knob(KnobCallback& f,
                    int* storage,
                    const std::string& name,
                    const std::string& label = {});
ArrayKnob* Float_knob(KnobCallback& f,
                      float* storage,
                      const std::string& name,
                      const std::string& label = {});
ArrayKnob* Double_knob(KnobCallback& f,
                       double* storage,
                       const std::string& name,
                       const std::string& label = {});
ArrayKnob* Bool_knob(KnobCallback& f,
                     bool* storage,
                     const std::string& name,
                     const std::string& label = {});
/// `n` doubles (colour, width/height, xyz, ...), stored into storage[0..n).
ArrayKnob* Array_knob(KnobCallback& f,
                      double* storage,
                      int n,
                      const std::string& name,
                      const std::string& label = {});
StringKnob* String_knob(KnobCallback& f,
                        std::string* storage,
                        const std::string& name,
                        const std::string& label = {});
TextKnob* Text_knob(KnobCallback& f, const std::string& text);
TextKnob* Text_knob(KnobCallback& f,
                    const std::string& name,
                    const std::string& label,
                    const std::string& text);
/// Scripts that set `alias` set `target` instead.
void Alias_knob(KnobCallback& f, const std::string& alias, const std::string& target);

}  // namespace Image
}  // namespace PX
