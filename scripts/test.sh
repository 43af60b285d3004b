#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, checks the formatting of every C++ file (scripts/format_check.sh),
# builds and runs every test: first a Release build with warnings as
# errors, then a Debug build (at -O1, as the sanitizers recommend) under AddressSanitizer and
# UBSan. Set SKIP_SANITIZERS=1 to run only the first stage.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
# Formatting first: it takes seconds and names every file that differs.
bash "$root/scripts/format_check.sh"

run_stage() {
    local dir=$1; shift
    echo "== $dir: configure $*"
    cmake -S "$root" -B "$root/$dir" -G Ninja -DPython3_EXECUTABLE=/usr/bin/python3 \
          -DWARNINGS_AS_ERRORS=ON "$@" >/dev/null
    echo "== $dir: build"
    cmake --build "$root/$dir"
    echo "== $dir: test"
    ctest --test-dir "$root/$dir" --output-on-failure -j 2 --timeout 300
}

run_stage build -DCMAKE_BUILD_TYPE=Release
if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
    # The embedded interpreter keeps allocations of its own until exit; only those are ignored.
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$root/tests/host/app/python/lsan.supp \
        run_stage build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
                             -DSANITIZE=address,undefined \
                             -DBUILD_BENCHMARKS=OFF -DBUILD_VIEWING_TOOLS=OFF
fi
