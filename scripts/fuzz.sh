#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer harnesses of the store, script and rig readers with clang, ASan and UBSan in build-fuzz/
# and runs each for the given number of seconds (default 180). Findings land in
# build-fuzz/findings/<harness>/; the seed corpora are fuzz/corpus/<store>/.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-180}
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    sudo apt-get install -y clang libclang-rt-dev
fi
cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSANITIZE=address,undefined \
      -DBUILD_FUZZERS=ON -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF \
      -DPython3_EXECUTABLE=/usr/bin/python3 >/dev/null
cmake --build "$root/build-fuzz" --target grid_map_fuzz control_points_fuzz constraints_fuzz \
      script_file_fuzz rig_file_fuzz
for pair in grid_map_fuzz:grid_map control_points_fuzz:control_points constraints_fuzz:constraints \
            script_file_fuzz:scripts rig_file_fuzz:rigs; do
    harness=${pair%%:*} seeds=${pair##*:}
    work="$root/build-fuzz/findings/$harness"
    mkdir -p "$work/corpus"
    echo "== $harness for ${seconds}s"
    # 64 MiB inputs at most would be a 40 MB store; 1 MiB finds the same paths much faster.
    "$root/build-fuzz/bin/$harness" "$work/corpus" "$root/fuzz/corpus/$seeds" \
        -max_total_time="$seconds" -max_len=1048576 -rss_limit_mb=2048 -timeout=10 \
        -artifact_prefix="$work/" -print_final_stats=1
done
