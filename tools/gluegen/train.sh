#!/usr/bin/env bash
# Remakes the station's glue-dot model from nothing but this repository:
#   tools/gluegen/train.sh [WORK_DIR]
# Generates 24,000 training pictures, 8,000 more with extra small print, 8,000 with only
# the smallest dots among such print, 16,000 of glue drawn every other way (varied) and
# 2,000 products (seed 1), and held-out sets (seed 2): 500 pictures and 500 products, 500
# varied pictures, and 500 pictures and 500 products of the second renderer (ringgen),
# which training never sees, and 200 more of its pictures for teaching it with few, in
# WORK_DIR (default: gluegen-work beside the repository). 1,500 products are held out.
# Trains in two stages, writes station/model/ and station/bin/alg_jd.jpg, checks OpenCV
# against PyTorch on the warm-up image and prints the evaluation on every held-out set;
# then teaches the shipped model the second renderer's look from its 200 pictures (train.py
# adapt) and prints that model's evaluation too.
# Run it again after an interruption: while the generator is unchanged it keeps the
# generated data and resumes from the last checkpoint.
#   GLUEGEN_VARIED=1   instead trains a trial model from nothing on the whole mix, glue
#                      drawn every other way included, into WORK_DIR/varied-model and
#                      evaluates it beside the shipped one; it does not ship until it is as
#                      good on our own held-out sets. GLUEGEN_WIDTH=W widens its layers
#                      from the 52 x 52 map W times (slower on the station).
set -euo pipefail
. "$(dirname "$0")/common.sh"

"$top/tools/gluegen/install-train-deps.sh"
GLUEBOX_BUILD=$build "$top/scripts/build.sh"
gen=$build/tools/gluegen/gluegen
mkdir -p "$work"

# Pictures made by another version of the generator are made again, held-out set included,
# or the figures would describe pictures that the generator no longer draws; training on
# them starts afresh.
stamp=$(cat "$top"/simulation/boxpictures/*.{h,cpp} "$top"/tools/gluegen/{gluegen,ringgen}.cpp | sha256sum | cut -d' ' -f1)
if [ -e "$work/generator.stamp" ] && [ "$(cat "$work/generator.stamp")" != "$stamp" ]; then
    echo "The generators have changed since $work was made: their pictures and checkpoints go."
    rm -rf "$work"/{train,small,tiny,varied,prods,eval,eval-varied,eval-ring,run,tune,stage2,varied-run,mix-run,varied-model,ring-train,ring-few,adapt-run,cross-run,cross-station}
fi
ring=$build/tools/gluegen/ringgen
echo "$stamp" > "$work/generator.stamp"
generate "$gen" "$work/train" pictures 0 24000
generate "$gen" "$work/small" smallprint 24000 8000
generate "$gen" "$work/tiny" smalldots 32000 8000
generate "$gen" "$work/varied" varied 40000 16000
generate "$gen" "$work/prods" products 0 2000
generate "$gen" "$work/eval" pictures 0 500 2
generate "$gen" "$work/eval" products 0 1500 2
generate "$gen" "$work/eval-varied" varied 40000 500 2
generate "$ring" "$work/eval-ring" pictures 0 500 2
generate "$ring" "$work/eval-ring" products 0 500 2
generate "$ring" "$work/ring-few" pictures 0 200

if [ "${GLUEGEN_VARIED:-0}" != 1 ] && [ ! -f "$work/stage2/jd.weights" ]; then
    # Stage 1: one cosine schedule of 20,000 steps of 24 tiles on the plain pictures (about
    # 87 minutes on this 2-core machine). GLUEGEN_STEPS trains another length.
    nice -n 19 "$py" "$train" train --data "$work/train" --work "$work/run" --steps "${GLUEGEN_STEPS:-20000}"
    # Stage 2, the shipped weights: 10,000 steps from stage 1's weights (about 37 minutes),
    # with the small print that looks most like glue, the smallest dots and the products'
    # own layout in the mix. With the small print alone the network passed over more of
    # the smallest, glossiest dots, which look like small rings; with both it learns the
    # line between them.
    nice -n 19 "$py" "$train" train --data "$work/train,$work/small,$work/tiny,$work/prods" --work "$work/tune" \
        --init "$work/run/checkpoint.pt" --lr 1e-3 --steps "${GLUEGEN_TUNE_STEPS:-10000}"
    "$py" "$train" export --work "$work/tune" --out "$work/stage2"
    rm -rf "$work/adapt-run" # taught from the model before this one
    "$py" "$train" export --work "$work/tune" --out "$top/station/model"
    "$gen" warmup "$top/station/bin/alg_jd.jpg"
    "$py" "$train" check --work "$work/tune" --out "$top/station/model" --image "$top/station/bin/alg_jd.jpg"
fi
evaluate() { # STATION_DIR: the model on every held-out set
    for set in eval eval-varied eval-ring; do
        echo "== $1 on $set"
        "$build/tools/gluegen/gluegen_eval" "$1" "$work/$set"
    done
}
evaluate "$top/station"
# A new look taught with few pictures, as a plant teaches a new box: the shipped model
# fine-tuned on 200 of the second renderer's pictures, every other tile from our own.
if [ ! -f "$work/adapt-run/station/model/jd.weights" ]; then
    nice -n 19 "$py" "$train" adapt --data "$work/ring-few" --held-out 0 --model "$top/station/model" \
        --keep "$work/train:4000,$work/small:1000,$work/tiny:1000,$work/prods" --work "$work/adapt-run" \
        --steps "${GLUEGEN_ADAPT_STEPS:-3000}"
fi
evaluate "$work/adapt-run/station"
[ "${GLUEGEN_VARIED:-0}" = 1 ] || exit 0
# The trial: 14,000 steps from nothing (about 55 minutes) on 12,000 plain pictures, the
# varied ones, the small print, the smallest dots and the products. The shipped model
# learned our one way of drawing glue: it passes over dots with a sharp highlight, which
# another renderer's pictures and real glue have. Fine-tuning it on this mix with its
# folded batch norm held did worse everywhere than this run from nothing.
nice -n 19 "$py" "$train" train --data "$work/train:12000,$work/varied,$work/small,$work/tiny,$work/prods" \
    --work "$work/mix-run" --steps "${GLUEGEN_VARIED_STEPS:-14000}" --width "${GLUEGEN_WIDTH:-1}"
mkdir -p "$work/varied-model/bin"
"$py" "$train" export --work "$work/mix-run" --out "$work/varied-model/model"
cp "$top/station/bin/alg_jd.jpg" "$work/varied-model/bin/"
evaluate "$work/varied-model"
