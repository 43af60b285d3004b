// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <iosfwd>
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

/// Writes `value` as `os << value` would. Streams in the default number format (the host hands
/// knobs fresh ones) take a fast path with the same text.
void writeNumber(std::ostream& os, double value);

}  // namespace Research
}  // namespace Korvane
