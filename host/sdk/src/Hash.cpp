// SPDX-License-Identifier: Apache-2.0
#include "px/image/Hash.h"

#include <cstring>

namespace PX {
namespace Image {

namespace {

constexpr uint64_t kGolden = 0x9e3779b97f4a7c15ull;

// The 64-bit finaliser of MurmurHash3: every input bit affects every output bit.
uint64_t fmix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

uint64_t rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Reads up to 8 bytes as a little-endian word, whatever the machine's byte order.
uint64_t loadLittleEndian(const unsigned char* p, size_t n) {
    uint64_t w = 0;
    for (size_t i = 0; i < n; ++i) w |= uint64_t(p[i]) << (8 * i);
    return w;
}

}  // namespace

void Hash::append(const void* data, size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint64_t h = m_value ^ (uint64_t(bytes) * kGolden);
    size_t i = 0;
    for (; i + 8 <= bytes; i += 8) h = rotl(h ^ fmix(loadLittleEndian(p + i, 8)), 27) * kGolden;
    if (i < bytes) h = rotl(h ^ fmix(loadLittleEndian(p + i, bytes - i)), 27) * kGolden;
    m_value = fmix(h);
}

void Hash::appendWord(uint64_t word, size_t bytes) {
    unsigned char b[8];
    for (size_t i = 0; i < bytes; ++i) b[i] = static_cast<unsigned char>(word >> (8 * i));
    append(b, bytes);
}

void Hash::append(const char* s) { append(s, s ? std::strlen(s) : 0); }

void Hash::append(int v) { appendWord(uint32_t(v), 4); }

void Hash::append(unsigned v) { appendWord(v, 4); }

void Hash::append(long long v) { appendWord(uint64_t(v), 8); }

void Hash::append(unsigned long long v) { appendWord(v, 8); }

void Hash::append(float v) {
    if (v == 0.0f) v = 0.0f;  // -0.0 -> 0.0
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    appendWord(bits, 4);
}

void Hash::append(double v) {
    if (v == 0.0) v = 0.0;
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    appendWord(bits, 8);
}

void Hash::append(bool v) { appendWord(v ? 1 : 0, 1); }

}  // namespace Image
}  // namespace PX
