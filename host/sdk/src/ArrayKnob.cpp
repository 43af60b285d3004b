// SPDX-License-Identifier: Apache-2.0
#include "px/image/ArrayKnob.h"

#include "px/image/Limits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <sstream>

#include "px/image/Node.h"

namespace PX {
namespace Image {

namespace {

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        const bool blank =
            sep == ' ' ? (c == ' ' || c == '\t' || c == '\n' || c == '\r') : c == sep;
        if (blank) {
            if (!cur.empty() || sep != ' ') out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty() || (sep != ' ' && !out.empty())) out.push_back(cur);
    return out;
}

// Shortest text that reads back to the same double.
std::string formatDouble(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

}  // namespace

ArrayKnob::ArrayKnob(Node* node,
                     std::string name,
                     std::string label,
                     Kind kind,
                     std::vector<double> defaults,
                     Binder binder)
    : Knob(node, std::move(name), std::move(label)),
      m_kind(kind),
      m_default(std::move(defaults)),
      m_values(m_default),
      m_binder(std::move(binder)) {}

const char* ArrayKnob::Class() const {
    if (m_className) return m_className;
    switch (m_kind) {
        case Kind::Int:
            return "Int_Knob";
        case Kind::Bool:
            return "Bool_Knob";
        case Kind::Float:
            break;
    }
    return arraySize() == 1 ? "Double_Knob" : "Array_Knob";
}

double ArrayKnob::get_value(int i) const { return get_value_at(uiContext().frame(), i); }

double ArrayKnob::get_value_at(double frame, int i) const {
    if (i < 0 || i >= arraySize()) return 0.0;
    if (!m_animated || m_keys.empty()) return m_values[size_t(i)];
    auto after = m_keys.lower_bound(frame);
    if (after == m_keys.end()) return std::prev(after)->second[size_t(i)];
    if (after->first == frame || after == m_keys.begin()) return after->second[size_t(i)];
    auto before = std::prev(after);
    const double t = (frame - before->first) / (after->first - before->first);
    const double v = before->second[size_t(i)] * (1.0 - t) + after->second[size_t(i)] * t;
    return m_kind == Kind::Float ? v : std::round(v);
}

std::vector<double> ArrayKnob::values_at(double frame) const {
    std::vector<double> v(m_default.size());
    for (int i = 0; i < arraySize(); ++i) v[size_t(i)] = get_value_at(frame, i);
    return v;
}

double ArrayKnob::fit(double v) const {
    if (m_kind == Kind::Int) v = std::round(v);
    if (m_kind == Kind::Bool) v = v != 0.0 ? 1.0 : 0.0;
    if (m_hasRange) v = std::clamp(v, m_min, m_max);
    return v;
}

void ArrayKnob::set_value(double v, int i) {
    if (m_animated)
        set_value_at(v, uiContext().frame(), i);
    else if (i >= 0 && i < arraySize())
        m_values[size_t(i)] = fit(v);
}

void ArrayKnob::set_value_at(double v, double frame, int i) {
    if (i < 0 || i >= arraySize()) return;
    if (!m_animated) {
        m_values[size_t(i)] = fit(v);
        return;
    }
    auto it = m_keys.find(frame);
    if (it == m_keys.end()) it = m_keys.emplace(frame, values_at(frame)).first;
    it->second[size_t(i)] = fit(v);
}

void ArrayKnob::setRange(double min, double max, bool clamp) {
    m_hasRange = true;
    m_clamp = clamp;
    m_min = min;
    m_max = max;
    for (double& v : m_values) v = fit(v);
}

void ArrayKnob::set_animated() { m_animated = true; }

void ArrayKnob::clear_animated() {
    if (m_animated && !m_keys.empty()) m_values = values_at(uiContext().frame());
    m_animated = false;
    m_keys.clear();
}

bool ArrayKnob::is_key(double frame) const { return m_animated && m_keys.count(frame) > 0; }

double ArrayKnob::getKeyTime(int i) const {
    if (i < 0 || i >= int(m_keys.size())) return 0.0;
    return std::next(m_keys.begin(), i)->first;
}

bool ArrayKnob::setKeyAt(double frame) {
    if (!isAnimatable()) return false;
    if (m_keys.count(frame)) return false;
    const std::string refused = keyFrameRefusal(frame, m_keys.size());
    if (!refused.empty()) {
        setError("knob '" + name() + "': " + refused);
        return false;
    }
    if (!m_animated) set_animated();
    std::vector<double> v = m_keys.empty() ? m_values : values_at(frame);
    m_keys.emplace(frame, std::move(v));
    return true;
}

bool ArrayKnob::deleteKeyAt(double frame) {
    auto it = m_keys.find(frame);
    if (it == m_keys.end()) return false;
    if (m_keys.size() == 1) m_values = it->second;  // the curve's value stays after the last key
    m_keys.erase(it);
    return true;
}

bool ArrayKnob::to_script(std::ostream& os, const OutputContext* context, bool) const {
    auto number = [this](double v) {
        if (m_kind == Kind::Bool) return std::string(v != 0.0 ? "true" : "false");
        if (m_kind == Kind::Int) return std::to_string(static_cast<long long>(v));
        return formatDouble(v);
    };
    auto list = [&](const std::vector<double>& values, const char* sep) {
        std::string s;
        for (size_t i = 0; i < values.size(); ++i) s += (i ? sep : "") + number(values[i]);
        return s;
    };
    if (context || !m_animated) {
        const std::vector<double> v = context ? values_at(context->frame()) : m_values;
        os << (v.size() == 1 ? list(v, " ") : "{" + list(v, " ") + "}");
        return true;
    }
    os << "{curve";
    for (const auto& key : m_keys)
        os << ' ' << formatDouble(key.first) << '=' << list(key.second, ",");
    os << '}';
    return true;
}

bool ArrayKnob::parseNumber(const std::string& word, double* v) {
    if (m_kind == Kind::Bool) {
        if (word == "true" || word == "1") return *v = 1.0, true;
        if (word == "false" || word == "0") return *v = 0.0, true;
        setError("knob '" + name() + "': '" + quoteForMessage(word) + "' is not true or false");
        return false;
    }
    char* end = nullptr;
    double d = std::strtod(word.c_str(), &end);
    if (word.empty() || *end != '\0' || !std::isfinite(d)) {
        setError("knob '" + name() + "': '" + quoteForMessage(word) + "' is not a number");
        return false;
    }
    if (m_kind == Kind::Int && d != std::floor(d)) {
        setError("knob '" + name() + "': '" + quoteForMessage(word) + "' is not a whole number");
        return false;
    }
    if (m_kind == Kind::Int && (d < -2147483648.0 || d > 2147483647.0)) {
        setError("knob '" + name() + "': " + quoteForMessage(word) +
                 " is outside the whole numbers -2147483648 to 2147483647");
        return false;
    }
    if (m_hasRange && m_clamp) d = std::clamp(d, m_min, m_max);
    if (m_hasRange && (d < m_min || d > m_max)) {
        // A range open at the top (a weight, a spacing) has only its minimum to name.
        setError("knob '" + name() + "': " + quoteForMessage(word) +
                 (std::isinf(m_max) ? " is below its minimum " + formatDouble(m_min)
                                    : " is outside its range " + formatDouble(m_min) + " to " +
                                          formatDouble(m_max)));
        return false;
    }
    *v = d;
    return true;
}

bool ArrayKnob::from_script(const char* text) {
    std::string s = trim(text ? text : "");
    if (s.empty()) return true;  // nothing written: keep the value
    const bool braced = s.front() == '{';
    if (braced) {
        if (s.back() != '}') {
            setError("knob '" + name() + "': missing '}' in '" + quoteForMessage(s) + "'");
            return false;
        }
        s = trim(s.substr(1, s.size() - 2));
    }
    std::vector<std::string> words = split(s, ' ');

    if (braced && !words.empty() && words.front() == "curve") {
        std::map<double, std::vector<double>> keys;
        for (size_t w = 1; w < words.size(); ++w) {
            const size_t eq = words[w].find('=');
            const std::string frameText = words[w].substr(0, eq);
            char* end = nullptr;
            const double frame = std::strtod(frameText.c_str(), &end);
            if (eq == std::string::npos || eq == 0 || *end != '\0' || !std::isfinite(frame)) {
                setError("knob '" + name() + "': bad key '" + quoteForMessage(words[w]) +
                         "', expected frame=value");
                return false;
            }
            const std::string refused = keyFrameRefusal(frame, keys.size());
            if (!refused.empty()) {
                setError("knob '" + name() + "': " + refused);
                return false;
            }
            std::vector<std::string> parts = split(words[w].substr(eq + 1), ',');
            if (int(parts.size()) != arraySize()) {
                setError("knob '" + name() + "': key '" + quoteForMessage(words[w]) + "' needs " +
                         std::to_string(arraySize()) + " values");
                return false;
            }
            std::vector<double> values(parts.size());
            for (size_t i = 0; i < parts.size(); ++i)
                if (!parseNumber(parts[i], &values[i])) return false;
            keys[frame] = std::move(values);
        }
        m_animated = true;
        m_keys = std::move(keys);
        return true;
    }

    if (words.size() != 1 && int(words.size()) != arraySize()) {
        setError("knob '" + name() + "': '" + quoteForMessage(text) + "' has " +
                 std::to_string(words.size()) + " values, expected " + std::to_string(arraySize()));
        return false;
    }
    std::vector<double> values(m_default.size());
    for (int i = 0; i < arraySize(); ++i)
        if (!parseNumber(words[words.size() == 1 ? 0 : size_t(i)], &values[size_t(i)]))
            return false;
    m_values = std::move(values);
    m_animated = false;
    m_keys.clear();
    return true;
}

void ArrayKnob::append(Hash& hash, const OutputContext* context) const {
    if (!context && m_animated) {
        for (const auto& key : m_keys) {
            hash.append(key.first);
            for (double x : key.second) hash.append(x);
        }
        return;
    }
    const std::vector<double> v = context ? values_at(context->frame()) : m_values;
    for (double x : v) hash.append(x);
}

bool ArrayKnob::not_default() const { return m_animated || m_values != m_default; }

void ArrayKnob::reset_to_default() {
    m_values = m_default;
    m_animated = false;
    m_keys.clear();
}

void ArrayKnob::store(const OutputContext& context) {
    if (m_binder) m_binder(values_at(context.frame()));
}

}  // namespace Image
}  // namespace PX
