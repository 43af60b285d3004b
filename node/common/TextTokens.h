// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace Korvane {
namespace Research {

/// Reads the saved text of the analysis stores as whitespace-separated tokens. A number must
/// fill its whole token ("1.5x" is no number); doubles must be finite and in range, so "nan",
/// "inf" and "1e999" fail. Like a stream, the first failed read makes every later read fail.
class TextTokens {
public:
    /// `text` must stay alive and zero-terminated while tokens are read.
    explicit TextTokens(const char* text) : m_at(text) {}

    /// True when the next token is exactly `keyword`.
    bool expect(std::string_view keyword);
    /// Any one token, as it stands.
    bool word(std::string& value);
    bool integer(int& value);
    bool number(double& value);
    bool failed() const { return m_failed; }
    /// True when only whitespace is left.
    bool atEnd();

private:
    std::string_view next();

    const char* m_at;
    bool m_failed = false;
};

/// What follows the last entry a store's counts announce: nothing; the line a store that
/// failed to read writes after its entries (kIncompleteMark), alone; or anything else.
enum class StoreTail { End, IncompleteMark, Extra };
constexpr const char* kIncompleteMark = "incomplete";
StoreTail readStoreTail(TextTokens& in);

/// True when `os` writes doubles in the default format (printf's %g at its precision), as the
/// fresh streams the host hands to knobs do.
bool hasDefaultNumberFormat(const std::ostream& os);
/// Appends `value` to `out` as `os << value` would write it; `defaultFormat` is
/// hasDefaultNumberFormat(os), asked once per text because asking costs more than writing.
void appendNumber(std::string& out, std::ostream& os, bool defaultFormat, double value);

}  // namespace Research
}  // namespace Korvane
