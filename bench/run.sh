#!/usr/bin/env bash
# Builds the Release configuration with the benchmarks and runs the benchmarks of the whole development
# (bench/save), then times whole kzrconvert processes on generator files of 2304 x 1536 and 4608 x 3072.
# Usage: bench/run.sh [--all] [benchmark arguments...]   (--all: every benchmark of bench/, one after another)
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${LUMO_BENCH_BUILD:-build/release}
JOBS=${LUMO_BENCH_JOBS:-3}
all=0
if [[ ${1:-} == --all ]]; then
    all=1
    shift
fi

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMO_BENCH=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS"

if [[ $all == 1 ]]; then
    for bench in "$BUILD"/bench/*/bench_*; do
        [[ -x $bench ]] || continue
        echo "== $(basename "$bench")"
        "$bench" "$@"
    done
else
    "$BUILD/bench/save/bench_save" "$@"
fi

# The whole process, as a user runs it: a raw file to JPEG quality 95 and to 16-bit TIFF.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export LUMO_MACHINE="$scratch/machine"
mkdir -p "$LUMO_MACHINE"
for size in 2304x1536 4608x3072; do
    raw="$scratch/scene-$size.kzr"
    "$BUILD/Tools/kzrgen/kzrgen" --size "$size" --calibration default "$raw"
    for format in "--jpeg 95" "--tiff16"; do
        best=
        for run in 1 2 3 4 5; do
            start=$(date +%s.%N)
            # shellcheck disable=SC2086
            "$BUILD/Tools/kzrconvert/kzrconvert" $format --out "$scratch/out" "$raw" >/dev/null
            seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
            best=$(awk -v s="$seconds" -v b="${best:-1e9}" 'BEGIN { print (s < b ? s : b) }')
        done
        printf 'kzrconvert %-9s %s: best of 5 %.3f s wall\n' "$format" "$size" "$best"
    done
done
