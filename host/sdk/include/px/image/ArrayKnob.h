// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "px/image/Knob.h"

namespace PX {
namespace Image {

/// A knob of one or more numbers (int, float, bool, colour, width/height, ...), optionally
/// animated. Animated values interpolate linearly between keys and hold the end keys' values
/// outside them.
///
/// Script text: one number, or "{a b c}" for several; animated: "{curve F=v ...}" with one
/// "frame=values" item per key, values comma-separated per component, e.g.
/// "{curve 1=0.5 10=1}" or "{curve 1=0,0 5=2,3}".
///
/// Range: a knob with a range refuses user text outside it (error naming the knob, value
/// kept), or clamps it when the range was set to clamp; values set from code are always
/// clamped. Integer knobs refuse fractional text.
class ArrayKnob : public Knob {
public:
    enum class Kind { Float, Int, Bool };
    using Binder = std::function<void(const std::vector<double>&)>;

    ArrayKnob(Node* node,
              std::string name,
              std::string label,
              Kind kind,
              std::vector<double> defaults,
              Binder binder);

    const char* Class() const override;
    Kind kind() const { return m_kind; }
    int arraySize() const { return int(m_default.size()); }

    /// Value of component `i` at `frame` (the UI frame when omitted).
    double get_value(int i = 0) const;
    double get_value_at(double frame, int i = 0) const;
    std::vector<double> values_at(double frame) const;
    /// Sets component `i`; when animated, at a key at the UI frame. No knob_changed.
    void set_value(double v, int i = 0);
    void set_value_at(double v, double frame, int i = 0);
    const std::vector<double>& defaults() const { return m_default; }

    /// With `clamp`, user text outside the range is clamped instead of refused. A `max` of
    /// infinity leaves the range open at the top (refusals then name the minimum only).
    void setRange(double min, double max, bool clamp = false);
    /// The class name the host shows ("Color_Knob", "WH_Knob", ...); the default follows the
    /// kind and the number of values.
    void setClassName(const char* name) { m_className = name; }
    bool hasRange() const { return m_hasRange; }
    double rangeMin() const { return m_min; }
    double rangeMax() const { return m_max; }

    bool to_script(std::ostream& os, const OutputContext* context, bool quote) const override;
    bool from_script(const char* text) override;
    void append(Hash& hash, const OutputContext* context) const override;
    bool not_default() const override;
    void reset_to_default() override;
    void store(const OutputContext& context) override;
    bool isValueKnob() const override { return true; }

    bool isAnimatable() const override { return !flag(NO_ANIMATION); }
    bool is_animated() const override { return m_animated; }
    void set_animated() override;
    void clear_animated() override;
    bool is_key(double frame) const override;
    int getNumKeys() const override { return int(m_keys.size()); }
    double getKeyTime(int i) const override;
    bool setKeyAt(double frame) override;
    bool deleteKeyAt(double frame) override;

private:
    double fit(double v) const;
    bool parseNumber(const std::string& word, double* v);

    Kind m_kind;
    std::vector<double> m_default;
    std::vector<double> m_values;
    bool m_animated = false;
    std::map<double, std::vector<double>> m_keys;
    bool m_hasRange = false;
    bool m_clamp = false;
    const char* m_className = nullptr;
    double m_min = 0.0, m_max = 0.0;
    Binder m_binder;
};

}  // namespace Image
}  // namespace PX
