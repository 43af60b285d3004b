// SPDX-License-Identifier: Apache-2.0
#include "common/TextTokens.h"

#include <charconv>
#include <cmath>
#include <locale>
#include <ostream>
#include <sstream>

namespace Korvane {
namespace Research {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A leading '+' is accepted as a stream accepts it; from_chars does not. "+-1" stays refused.
std::string_view withoutPlus(std::string_view token) {
    if (token.size() > 1 && token[0] == '+' && token[1] != '-') return token.substr(1);
    return token;
}

}  // namespace

std::string_view TextTokens::next() {
    if (m_failed) return {};
    while (isBlank(*m_at)) ++m_at;
    const char* begin = m_at;
    while (*m_at != '\0' && !isBlank(*m_at)) ++m_at;
    if (begin == m_at) m_failed = true;
    return {begin, size_t(m_at - begin)};
}

bool TextTokens::expect(std::string_view keyword) {
    const std::string_view token = next();
    if (token != keyword) m_failed = true;
    return !m_failed;
}

bool TextTokens::word(std::string& value) {
    const std::string_view token = next();
    if (m_failed) return false;
    value.assign(token);
    return true;
}

bool TextTokens::integer(int& value) {
    const std::string_view token = withoutPlus(next());
    if (m_failed) return false;
    int v = 0;
    const auto r = std::from_chars(token.data(), token.data() + token.size(), v);
    if (r.ec != std::errc() || r.ptr != token.data() + token.size()) return !(m_failed = true);
    value = v;
    return true;
}

bool TextTokens::number(double& value) {
    const std::string_view token = withoutPlus(next());
    if (m_failed) return false;
    double v = 0.0;
    const auto r = std::from_chars(token.data(), token.data() + token.size(), v);
    if (r.ec != std::errc() || r.ptr != token.data() + token.size() || !std::isfinite(v))
        return !(m_failed = true);
    value = v;
    return true;
}

bool TextTokens::atEnd() {
    while (isBlank(*m_at)) ++m_at;
    return *m_at == '\0';
}

StoreTail readStoreTail(TextTokens& in) {
    if (in.atEnd()) return StoreTail::End;
    std::string word;
    return in.word(word) && word == kIncompleteMark && in.atEnd() ? StoreTail::IncompleteMark
                                                                  : StoreTail::Extra;
}

bool hasDefaultNumberFormat(const std::ostream& os) {
    constexpr auto kFormatting = std::ios_base::floatfield | std::ios_base::showpos |
                                 std::ios_base::showpoint | std::ios_base::uppercase;
    return !(os.flags() & kFormatting) && os.width() == 0 && os.precision() >= 1 &&
           os.precision() <= 17 && os.getloc() == std::locale::classic();
}

void appendNumber(std::string& out, std::ostream& os, bool defaultFormat, double value) {
    if (!defaultFormat) {
        std::ostringstream text;
        text.copyfmt(os);
        text << value;
        out += text.str();
        return;
    }
    // printf's %.<precision>g is to_chars' general format.
    char text[64];
    const auto r = std::to_chars(
        text, text + sizeof text, value, std::chars_format::general, int(os.precision()));
    out.append(text, r.ptr);
}

}  // namespace Research
}  // namespace Korvane
