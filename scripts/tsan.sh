#!/usr/bin/env bash
# Builds the ThreadSanitizer configuration (build/tsan) and runs every test in it; any report fails the test.
# Warnings are not errors here: the instrumented build raises false array-bounds warnings inside std::vector.
# Usage: scripts/tsan.sh [ctest arguments...]   (e.g. -R 'Cache|KMutex' --repeat until-fail:10)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/tsan -G Ninja -DTSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/tsan -j "$JOBS"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
    ctest --test-dir build/tsan -j "$JOBS" --output-on-failure --timeout 900 "$@" </dev/null
