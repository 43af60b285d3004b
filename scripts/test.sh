#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs what is missing, checks the formatting of every C++ file (scripts/format_check.sh),
# builds and runs every test: first a Release build with warnings as
# errors, then a Debug build (at -O1, as the sanitizers recommend) under AddressSanitizer and
# UBSan. Set SKIP_SANITIZERS=1 to run only the first stage. Both stages are unity builds (each
# target's files compiled in batches that parse the heavy headers once a batch), and the
# sanitizer stage keeps line tables only (-g1): a report still names file and line of every
# frame, and Eigen's templates no longer cost their full debug information. Each step prints
# its wall time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
# Formatting first: it takes seconds and names every file that differs.
bash "$root/scripts/format_check.sh"

run_stage() {
    local dir=$1; shift
    echo "== $dir: configure $*"
    cmake -S "$root" -B "$root/$dir" -G Ninja -DPython3_EXECUTABLE=/usr/bin/python3 \
          -DWARNINGS_AS_ERRORS=ON -DCMAKE_UNITY_BUILD=ON "$@" >/dev/null
    echo "== $dir: build"
    SECONDS=0
    cmake --build "$root/$dir"
    echo "== $dir: built in $SECONDS s"
    echo "== $dir: test"
    SECONDS=0
    ctest --test-dir "$root/$dir" --output-on-failure -j 2 --timeout 300
    echo "== $dir: tested in $SECONDS s"
}

run_stage build -DCMAKE_BUILD_TYPE=Release
if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
    # The embedded interpreter keeps allocations of its own until exit; only those are ignored.
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$root/tests/host/app/python/lsan.supp \
        run_stage build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" \
                             -DSANITIZE=address,undefined \
                             -DBUILD_BENCHMARKS=OFF -DBUILD_VIEWING_TOOLS=OFF
fi
