#!/usr/bin/env bash
# Builds the Release configuration and runs the main job.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

BUILD=${LUMO_RUN_BUILD:-build/release}
JOBS=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS"

"$BUILD/Tools/lumoversion/lumoversion"
# Until raw conversion exists, show the storage layer at work: the folders the system uses, and a listing.
fs="$BUILD/Tools/lumofs/lumofs"
echo "application data: $("$fs" special 1)"
echo "temporary files:  $("$fs" special 2)"
target=${1:-.}
echo "listing $("$fs" url "$(realpath "$target")"):"
"$fs" ls "$(realpath "$target")"
