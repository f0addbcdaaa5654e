#!/usr/bin/env bash
# Builds the fuzzing configuration (clang, libFuzzer, ASan+UBSan) and fuzzes one target.
# Usage: scripts/fuzz.sh NAME [SECONDS]   (NAME as in tests/fuzz/NAME; new inputs go to build/fuzz-work/NAME,
# the seed corpus in tests/fuzz/corpus/NAME is only read; copy a crash there to keep it as a regression input)
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/fuzz.sh NAME [SECONDS]}
seconds=${2:-60}
command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is needed" >&2; exit 1; }
scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DLUMO_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz --target "fuzz_$name"
mkdir -p "build/fuzz-work/$name"
exec "build/fuzz/tests/fuzz/$name/fuzz_$name" -max_total_time="$seconds" "build/fuzz-work/$name" "tests/fuzz/corpus/$name"
