#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Fails when a tracked C++ file differs from what clang-format makes of it with the project's
# .clang-format, naming the places. `clang-format -i FILE` fixes one.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "format: every C++ file is formatted"
