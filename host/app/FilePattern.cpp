// SPDX-License-Identifier: Apache-2.0
#include "FilePattern.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace Vireo {

int wholeFrame(double frame) { return int(std::round(frame)); }

namespace {

std::string padded(int value, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*d", digits, value);
    return buf;
}

}  // namespace

std::string expandFilePattern(const std::string& pattern, const std::string& view, double frame) {
    const int f = wholeFrame(frame);
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '#') {
            size_t n = 0;
            while (i + n < pattern.size() && pattern[i + n] == '#') ++n;
            out += padded(f, int(n));
            i += n;
            continue;
        }
        if (c == '%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == 'V') {
                out += view;
                i += 2;
                continue;
            }
            if (pattern[i + 1] == '%') {
                out += '%';
                i += 2;
                continue;
            }
            // %d or %0Nd
            size_t j = i + 1;
            int digits = 0;
            if (pattern[j] == '0') {
                ++j;
                while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])))
                    digits = digits * 10 + (pattern[j++] - '0');
            }
            if (j < pattern.size() && pattern[j] == 'd' && digits <= 16) {
                out += padded(f, digits);
                i = j + 1;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

}  // namespace Vireo
