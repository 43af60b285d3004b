// SPDX-License-Identifier: Apache-2.0
// Copy kernel against memcpy of the same bytes, and the cost of launching a kernel that has
// almost nothing to do. Compare BM_CopyKernel with BM_Memcpy: the ratio of their bytes_per_second
// is the kernel's share of memcpy speed.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "kiln/Image.h"
#include "kiln/Kernels.h"

namespace {

const Kiln::Info kBig{{0, 0, 4096, 2048}, 4, Kiln::Pixel::ComponentType::Float};

void BM_Memcpy(benchmark::State& state) {
    const std::size_t bytes = std::size_t(kBig.box.width()) * kBig.box.height() * kBig.pixelBytes();
    std::vector<unsigned char> source(bytes, 1), target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_CopyKernel(benchmark::State& state) {
    const Kiln::Image source(kBig, nullptr, {}, Kiln::Image::kClearOnAllocate);
    Kiln::Image target(kBig, nullptr, {}, Kiln::Image::kClearOnAllocate);
    for (auto _ : state) {
        Kiln::Kernels::copyImage(source, target);
        benchmark::DoNotOptimize(target.origin());
        benchmark::ClobberMemory();
    }
    const std::size_t bytes = std::size_t(kBig.box.width()) * kBig.box.height() * kBig.pixelBytes();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

// Launch overhead: make the kernel, bind, write a scalar, iterate over 4 x 4 pixels.
void BM_TinyLaunch(benchmark::State& state) {
    const Kiln::Info tiny{{0, 0, 4, 4}, 1, Kiln::Pixel::ComponentType::Float};
    const Kiln::Image source(tiny, nullptr, {}, Kiln::Image::kClearOnAllocate);
    Kiln::Image target(tiny, nullptr);
    float factor = 1.0f;
    for (auto _ : state) {
        Kiln::Kernels::scaleImage(source, target, factor);
        factor += 1.0f;
        benchmark::DoNotOptimize(target.origin());
    }
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyKernel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TinyLaunch)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
