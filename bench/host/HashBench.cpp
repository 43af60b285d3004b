// SPDX-License-Identifier: Apache-2.0
// Hash throughput: whole buffers (cache keys over pixel data) and many small appends (every
// knob value and grid text is appended on each render's hash).
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "px/image/Hash.h"

using PX::Image::Hash;

static void BM_HashBuffer(benchmark::State& state) {
    std::vector<unsigned char> buffer(size_t(state.range(0)));
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i * 131);
    for (auto _ : state) {
        Hash h;
        h.append(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(h.value());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_HashBuffer)->Arg(64 << 10);

// One grid row as a constraints knob holds it: a short text per cell, then its numbers.
static void BM_HashSmallAppends(benchmark::State& state) {
    const int cells = int(state.range(0));
    std::vector<std::string> texts;
    for (int i = 0; i < cells; ++i) texts.push_back("cam" + std::to_string(i % 16) + " pt");
    for (auto _ : state) {
        Hash h;
        for (int i = 0; i < cells; ++i) {
            h.append(texts[size_t(i)]);
            h.append(i);
            h.append(float(i) * 0.25f);
            h.append(double(i) * 0.5);
        }
        benchmark::DoNotOptimize(h.value());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * cells * 4);
}
BENCHMARK(BM_HashSmallAppends)->Arg(1000);

BENCHMARK_MAIN();
