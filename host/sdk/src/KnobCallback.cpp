// SPDX-License-Identifier: Apache-2.0
#include "px/image/KnobCallback.h"

#include <charconv>

#include "px/image/Node.h"

namespace PX {
namespace Image {

Knob* KnobCallback::add(std::unique_ptr<Knob> knob) {
    m_last = m_node->addKnob(std::move(knob));
    return m_last;
}

namespace {

// A float default becomes the double its shortest text means (0.4f -> 0.4, not
// 0.4000000059604645), so it saves as the user wrote it.
double widen(float v) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    double d = 0.0;
    std::from_chars(text, end, d);
    return d;
}
template <typename T>
double widen(T v) {
    return double(v);
}

// Declares a one-value knob whose storage is a T; the storage's current value is the default.
template <typename T>
ArrayKnob* scalarKnob(KnobCallback& f,
                      T* storage,
                      ArrayKnob::Kind kind,
                      const std::string& name,
                      const std::string& label) {
    const double initial = storage ? widen(*storage) : 0.0;
    auto binder = [storage](const std::vector<double>& v) {
        if (storage) *storage = static_cast<T>(v[0]);
    };
    return f.make<ArrayKnob>(name, label, kind, std::vector<double>{initial}, binder);
}

}  // namespace

ArrayKnob* Int_knob(KnobCallback& f,
                    int* storage,
                    const std::string& name,
                    const std::string& label) {
    return scalarKnob(f, storage, ArrayKnob::Kind::Int, name, label);
}

ArrayKnob* Float_knob(KnobCallback& f,
                      float* storage,
                      const std::string& name,
                      const std::string& label) {
    return scalarKnob(f, storage, ArrayKnob::Kind::Float, name, label);
}

ArrayKnob* Double_knob(KnobCallback& f,
                       double* storage,
                       const std::string& name,
                       const std::string& label) {
    return scalarKnob(f, storage, ArrayKnob::Kind::Float, name, label);
}

ArrayKnob* Bool_knob(KnobCallback& f,
                     bool* storage,
                     const std::string& name,
                     const std::string& label) {
    return scalarKnob(f, storage, ArrayKnob::Kind::Bool, name, label);
}

ArrayKnob* Array_knob(
    KnobCallback& f, double* storage, int n, const std::string& name, const std::string& label) {
    std::vector<double> initial(storage, storage + n);
    auto binder = [storage](const std::vector<double>& v) {
        std::copy(v.begin(), v.end(), storage);
    };
    return f.make<ArrayKnob>(name, label, ArrayKnob::Kind::Float, std::move(initial), binder);
}

StringKnob* String_knob(KnobCallback& f,
                        std::string* storage,
                        const std::string& name,
                        const std::string& label) {
    return f.make<StringKnob>(name, label, storage ? *storage : "", storage);
}

TextKnob* Text_knob(KnobCallback& f, const std::string& text) {
    return f.make<TextKnob>("", "", text);
}

TextKnob* Text_knob(KnobCallback& f,
                    const std::string& name,
                    const std::string& label,
                    const std::string& text) {
    return f.make<TextKnob>(name, label, text);
}

void Alias_knob(KnobCallback& f, const std::string& alias, const std::string& target) {
    f.node()->addAlias(alias, target);
}

}  // namespace Image
}  // namespace PX
