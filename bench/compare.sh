#!/usr/bin/env bash
# Whole-process comparison of kzrconvert with a lean converter pipe on frames of the same pixel count: a raw
# file from kzrgen against a plain Bayer DNG of the same size, `dcraw -w | cjpeg -quality 95` for JPEG and
# `dcraw -6 -T` for 16-bit TIFF (both skipped where dcraw or cjpeg is not installed: `apt-get install dcraw
# libjpeg-turbo-progs`). Both run pinned to the same processors, in turn (A B A B ...), and the script prints
# the median wall time of each, the median of the pair-by-pair ratios, and the peak resident memory per pixel.
# Usage: bench/compare.sh [--cpus LIST] [--runs N] [--sizes "WxH ..."] [--build DIR]
#   defaults: --cpus 0-3, --runs 7, --sizes "2304x1536 4608x3072", --build build/release (built when missing)
set -euo pipefail
cd "$(dirname "$0")/.."

cpus=0-3
runs=7
sizes="2304x1536 4608x3072"
BUILD=${LUMO_BENCH_BUILD:-build/release}
while [[ $# -gt 0 ]]; do
    case $1 in
    --cpus) cpus=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --build) BUILD=$2; shift 2 ;;
    *) echo "usage: bench/compare.sh [--cpus LIST] [--runs N] [--sizes \"WxH ...\"] [--build DIR]" >&2; exit 2 ;;
    esac
done

if [[ ! -x $BUILD/Tools/kzrconvert/kzrconvert || ! -x $BUILD/Tools/kzrgen/kzrgen ]]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD" -j "${LUMO_BENCH_JOBS:-3}" --target kzrconvert kzrgen
fi
lean=1
for tool in dcraw cjpeg python3; do
    command -v "$tool" >/dev/null || { echo "note: $tool not installed: kzrconvert alone" >&2; lean=0; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export LUMO_MACHINE="$scratch/machine"
mkdir -p "$LUMO_MACHINE"
convert=$(realpath "$BUILD/Tools/kzrconvert/kzrconvert")

# One run: prints "wall-seconds peak-KiB" of the command given as one shell string, pinned.
measure() {
    /usr/bin/time -f '%e %M' -o "$scratch/time" taskset -c "$cpus" sh -c "$1" >/dev/null 2>&1
    cat "$scratch/time"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

echo "pinned to processors $cpus; $runs runs of each, in turn; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for size in $sizes; do
    width=${size%x*}
    height=${size#*x}
    raw="$scratch/scene-$size.kzr"
    "$BUILD/Tools/kzrgen/kzrgen" --size "$size" --calibration default "$raw" >/dev/null
    [[ $lean == 1 ]] && python3 bench/make-bayer-dng.py "$width" "$height" "$scratch/scene-$size.dng"
    pixels=$((width * height))
    for format in jpeg tiff16; do
        if [[ $format == jpeg ]]; then
            ours="$convert --jpeg 95 --out $scratch/out $raw"
            theirs="dcraw -c -w $scratch/scene-$size.dng | cjpeg -quality 95 > $scratch/lean.jpg"
        else
            ours="$convert --tiff16 --out $scratch/out $raw"
            theirs="dcraw -c -6 -T $scratch/scene-$size.dng > $scratch/lean.tif"
        fi
        : >"$scratch/a"
        : >"$scratch/b"
        : >"$scratch/r"
        measure "$ours" >/dev/null  # warm-up
        [[ $lean == 1 ]] && measure "$theirs" >/dev/null
        for ((run = 0; run < runs; run++)); do
            read -r a am < <(measure "$ours")
            echo "$a $am" >>"$scratch/a"
            if [[ $lean == 1 ]]; then
                read -r b bm < <(measure "$theirs")
                echo "$b $bm" >>"$scratch/b"
                awk -v a="$a" -v b="$b" 'BEGIN { print (b > 0 ? a / b : 0) }' >>"$scratch/r"
            fi
        done
        wa=$(cut -d' ' -f1 "$scratch/a" | median)
        ma=$(cut -d' ' -f2 "$scratch/a" | sort -g | tail -1)
        line=$(printf '%-9s %-6s kzrconvert %.3f s, %.1f bytes/pixel' "$size" "$format" "$wa" \
            "$(awk -v k="$ma" -v p="$pixels" 'BEGIN { print k * 1024 / p }')")
        if [[ $lean == 1 ]]; then
            wb=$(cut -d' ' -f1 "$scratch/b" | median)
            mb=$(cut -d' ' -f2 "$scratch/b" | sort -g | tail -1)
            line+=$(printf ' | lean pipe %.3f s, %.1f bytes/pixel | ratio (median of pairs) %.2f' "$wb" \
                "$(awk -v k="$mb" -v p="$pixels" 'BEGIN { print k * 1024 / p }')" "$(median <"$scratch/r")")
        fi
        echo "$line"
    done
done
