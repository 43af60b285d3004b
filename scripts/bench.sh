#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds (Release) and runs every Google Benchmark program. Extra arguments go to each program,
# e.g. scripts/bench.sh --benchmark_filter=Copy
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh" enblend  # blend_bench times the enblend program too
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DPython3_EXECUTABLE=/usr/bin/python3 -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$root/build"
for b in "$root"/build/bin/*_bench; do
    echo "== $(basename "$b")"
    "$b" "$@"
done
