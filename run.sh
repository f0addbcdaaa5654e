#!/usr/bin/env bash
# Builds the Release configuration and runs the main job.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

BUILD=${LUMO_RUN_BUILD:-build/release}
JOBS=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS"

"$BUILD/Tools/lumoversion/lumoversion" "$@"
