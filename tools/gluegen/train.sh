#!/usr/bin/env bash
# Remakes the station's glue-dot model from nothing but this repository:
#   tools/gluegen/train.sh [WORK_DIR]
# Generates 24,000 training pictures, 8,000 more with extra small print, 8,000 with only
# the smallest dots among such print and 2,000 products (seed 1), and a held-out set of
# 500 pictures and 500 products (seed 2) in WORK_DIR (default: gluegen-work beside the
# repository), trains in two stages,
# writes station/model/ and station/bin/alg_jd.jpg, checks OpenCV against PyTorch on the
# warm-up image and prints the evaluation. Run it again after an interruption: while the
# generator is unchanged it keeps the generated data and resumes from the last checkpoint.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$top/../gluegen-work}
build=${GLUEBOX_BUILD:-$top/build}
py=/usr/bin/python3
train="$top/tools/gluegen/train.py"

"$top/tools/gluegen/install-train-deps.sh"
GLUEBOX_BUILD=$build "$top/scripts/build.sh"
gen=$build/tools/gluegen/gluegen
mkdir -p "$work"

# Pictures made by another version of the generator are made again, held-out set included,
# or the figures would describe pictures that the generator no longer draws; training on
# them starts afresh.
stamp=$(cat "$top"/simulation/boxpictures/BoxImageGenerator.{h,cpp} "$top"/tools/gluegen/gluegen.cpp | sha256sum | cut -d' ' -f1)
if [ -e "$work/train" ] && [ "$(cat "$work/generator.stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "The generator has changed since $work was made: its pictures and checkpoints go."
    rm -rf "$work/train" "$work/small" "$work/tiny" "$work/prods" "$work/eval" "$work/run" "$work/tune"
fi
# generate DIR MODE FIRST COUNT: seed-1 items FIRST.. in two processes, one per core, unless
# the last one is there already.
generate() {
    local dir=$1 mode=$2 first=$3 count=$4 half=$(($4 / 2)) prefix=pic
    [ "$mode" = products ] && prefix=prod
    if [ -f "$(printf '%s/%s_%06d.txt' "$dir" "$prefix" $((first + count - 1)))" ]; then
        return 0
    fi
    nice -n 19 "$gen" "$mode" "$dir" "$first" "$half" 1 &
    nice -n 19 "$gen" "$mode" "$dir" $((first + half)) $((count - half)) 1
    wait
}
generate "$work/train" pictures 0 24000
generate "$work/small" smallprint 24000 8000
generate "$work/tiny" smalldots 32000 8000
generate "$work/prods" products 0 2000
if [ ! -f "$work/eval/prod_000499.txt" ]; then
    nice -n 19 "$gen" pictures "$work/eval" 0 500 2
    nice -n 19 "$gen" products "$work/eval" 0 500 2
fi
echo "$stamp" > "$work/generator.stamp"

# Stage 1: one cosine schedule of 20,000 steps of 24 tiles on the plain pictures (about 87
# minutes on this 2-core machine). GLUEGEN_STEPS trains another length.
nice -n 19 "$py" "$train" train --data "$work/train" --work "$work/run" --steps "${GLUEGEN_STEPS:-20000}"
# Stage 2, the shipped weights: 10,000 steps from stage 1's weights (about 37 minutes), with
# the small print that looks most like glue, the smallest dots and the products' own layout
# in the mix. With the small print alone the network passed over more of the smallest,
# glossiest dots, which look like small rings; with both it learns the line between them.
nice -n 19 "$py" "$train" train --data "$work/train,$work/small,$work/tiny,$work/prods" --work "$work/tune" \
    --init "$work/run/checkpoint.pt" --lr 1e-3 --steps "${GLUEGEN_TUNE_STEPS:-10000}"
"$py" "$train" export --work "$work/tune" --out "$top/station/model"
"$gen" warmup "$top/station/bin/alg_jd.jpg"
"$py" "$train" check --work "$work/tune" --out "$top/station/model" --image "$top/station/bin/alg_jd.jpg"
"$build/tools/gluegen/gluegen_eval" "$top/station" "$work/eval"
