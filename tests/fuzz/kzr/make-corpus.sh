#!/usr/bin/env bash
# Regenerates the seed corpus of the raw container fuzz target with kzrgen.
# Usage: tests/fuzz/kzr/make-corpus.sh BUILD_DIR   (a build folder holding Tools/kzrgen/kzrgen)
set -euo pipefail
cd "$(dirname "$0")/../../.."
gen=${1:?usage: make-corpus.sh BUILD_DIR}/Tools/kzrgen/kzrgen
out=tests/fuzz/corpus/kzr
rm -f "$out"/*.kzr
"$gen" --size 16x8 "$out/standard.kzr"
"$gen" --size 10x4 --raw-format 0 --dark-format 0 --subtracted-format 5 --preview-format 3 --version 2.0 "$out/formats-0-5-3.kzr"
"$gen" --size 12x6 --subtracted-format 6 --raw-format 4 --preview-format 1 --version 1.0 "$out/formats-4-6-1.kzr"
"$gen" --size 9x5 --subtracted-format 6 --version 2.1 --calibration none "$out/subtracted-only.kzr"
"$gen" --edge-cases "$out/edge-cases.kzr"
for case in format-2 dirp-loop row-offsets camf-short prop-unterminated row-size; do
  "$gen" --size 16x8 --negative "$case" "$out/negative-$case.kzr"
done
