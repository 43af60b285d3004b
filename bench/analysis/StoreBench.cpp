// SPDX-License-Identifier: Apache-2.0
// Saving, loading and hashing a full warp-grid store: 200 keys x 8 cameras of 40 x 40 grids.
#include <benchmark/benchmark.h>

#include <random>
#include <sstream>
#include <string>

#include "analysis/GridMapKnob.h"
#include "px/image/UndoStack.h"

using namespace Korvane::Research;

namespace {

constexpr int kKeys = 200, kCameras = 8, kSide = 40;

// Knobs without a node stay out of the undo history.
struct NoUndo {
    NoUndo() { PX::Image::UndoStack::instance().suspend(); }
    ~NoUndo() { PX::Image::UndoStack::instance().resume(); }
};

void fill(GridMapKnob& store) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> d(-40.0, 40.0);
    Grid2D grid(kSide, kSide);
    for (int key = 0; key < kKeys; ++key)
        for (int view = 1; view <= kCameras; ++view) {
            for (auto& p : grid.points) p = {d(rng), d(rng)};
            store.setGrid(key * 10, view, grid);
        }
}

void BM_GridMapSave(benchmark::State& state) {
    NoUndo noUndo;
    GridMapKnob store(nullptr, "gridMap");
    fill(store);
    size_t bytes = 0;
    for (auto _ : state) {
        std::ostringstream os;
        store.to_script(os, nullptr, false);
        bytes = os.str().size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_GridMapSave)->Unit(benchmark::kMillisecond);

void BM_GridMapLoad(benchmark::State& state) {
    NoUndo noUndo;
    GridMapKnob source(nullptr, "gridMap");
    fill(source);
    const std::string text = source.toScriptText();
    GridMapKnob store(nullptr, "gridMap");
    for (auto _ : state) {
        if (!store.from_script(text.c_str())) state.SkipWithError("the store did not load");
        benchmark::DoNotOptimize(store.gridCount());
    }
}
BENCHMARK(BM_GridMapLoad)->Unit(benchmark::kMillisecond);

void BM_GridMapHashAll(benchmark::State& state) {
    NoUndo noUndo;
    GridMapKnob store(nullptr, "gridMap");
    fill(store);
    // The first hash after a change: one grid written, then the whole store hashed. (Later
    // hashes of an unchanged store are kept and cost nothing.)
    Grid2D grid(40, 40);
    for (auto _ : state) {
        store.setGrid(1, 1, grid);
        PX::Image::Hash hash;
        store.hashAll(hash);
        benchmark::DoNotOptimize(hash.value());
    }
}
BENCHMARK(BM_GridMapHashAll)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
