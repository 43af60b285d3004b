// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace PX {
namespace Image {

/// A 64-bit running hash. A fresh hash has the value 1; every append mixes the appended bytes
/// (and their count) into the value. Numbers are appended as their little-endian bytes of a
/// fixed width (int and unsigned 4 bytes, float 4, double 8, bool 1), so the value of the same
/// appends is the same on every run and every machine. -0.0 is appended as 0.0 so that equal
/// numbers hash equal. Strings are appended without their terminating zero; a caller that
/// wants the zero appends the bytes with it.
class Hash {
public:
    Hash() = default;
    uint64_t value() const { return m_value; }
    void reset() { m_value = 1; }

    void append(const void* data, size_t bytes);
    void append(const std::string& s) { append(s.data(), s.size()); }
    void append(const char* s);
    void append(int v);
    void append(unsigned v);
    void append(long long v);
    void append(unsigned long long v);
    // int64_t, uint64_t and size_t are long on LP64 machines: 8 bytes like long long.
    void append(long v) { append(static_cast<long long>(v)); }
    void append(unsigned long v) { append(static_cast<unsigned long long>(v)); }
    void append(float v);
    void append(double v);
    void append(bool v);
    void append(const Hash& other) { append(static_cast<unsigned long long>(other.m_value)); }

    bool operator==(const Hash& o) const { return m_value == o.m_value; }
    bool operator!=(const Hash& o) const { return m_value != o.m_value; }
    bool operator<(const Hash& o) const { return m_value < o.m_value; }

private:
    void appendWord(uint64_t word, size_t bytes);
    uint64_t m_value = 1;
};

}  // namespace Image
}  // namespace PX
