#!/usr/bin/env bash
# Builds the Release configuration and runs the main job: raw files developed and saved as JPEG and TIFF.
# Usage: ./run.sh                       a demo folder of generated raw files (made once) converted to JPEG
#                                       (quality 95) and 16-bit TIFF
#        ./run.sh [options] FILE|DIR... the given raw files or folders converted (kzrconvert's options, see
#                                       ./run.sh --help; the results go beside the raw files by default)
set -euo pipefail
# Paths given on the command line are the caller's: they are taken from the folder the command was given in.
caller=$PWD
cd "$(dirname "$0")"
tree=$PWD

scripts/install-deps.sh

BUILD=${LUMO_RUN_BUILD:-build/release}
[[ "$BUILD" = /* ]] || BUILD="$tree/$BUILD"
JOBS=$(nproc 2>/dev/null || echo 2)

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j "$JOBS"

"$BUILD/Tools/lumoversion/lumoversion"
convert="$BUILD/Tools/kzrconvert/kzrconvert"
if [[ $# -gt 0 ]]; then
    cd "$caller"
    exec "$convert" "$@"
fi

# The demo: three generated raw files (a landscape frame, one turned a quarter, and one holding a
# dark-subtracted frame instead of raw and dark frames), made once.
demo="$BUILD/demo"
if [[ ! -f "$demo/raw/.complete" ]]; then
    gen="$BUILD/Tools/kzrgen/kzrgen"
    mkdir -p "$demo/raw"
    "$gen" --size 2304x1536 --calibration default --seed 1 "$demo/raw/scene-landscape.kzr"
    "$gen" --size 2304x1536 --calibration default --seed 2 --rotation 90 "$demo/raw/scene-portrait.kzr"
    "$gen" --size 1536x1024 --calibration default --seed 3 --subtracted-format 5 "$demo/raw/scene-subtracted.kzr"
    touch "$demo/raw/.complete"
fi
"$convert" --jpeg 95 --out "$demo/jpeg" "$demo/raw"
"$convert" --tiff16 --out "$demo/tiff16" "$demo/raw"
echo "raw files:     $(realpath "$demo/raw")"
echo "JPEG files:    $(realpath "$demo/jpeg")"
echo "16-bit TIFFs:  $(realpath "$demo/tiff16")"
