#!/usr/bin/env bash
# Builds the tree with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
# Usage: ./test.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

BUILD=${LUMO_TEST_BUILD:-build/asan}
JOBS=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$BUILD" -G Ninja -DSANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMO_WERROR=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS"
ctest --test-dir "$BUILD" -j "$JOBS" --output-on-failure --timeout 900 "$@" </dev/null
