#!/usr/bin/env bash
# The other direction of the cross-renderer figure: a network trained from nothing on the
# second renderer's pictures only (ringgen, seed 1: 8,000 pictures and 1,000 products),
# then measured on the first renderer's held-out sets and on its own. It is not the
# shipped model; it says whether what one renderer teaches carries over to the other.
#   tools/gluegen/cross.sh [WORK_DIR]     (after train.sh, which draws the held-out sets)
# GLUEGEN_CROSS_STEPS trains another length (default 6,000 steps, about 25 minutes here);
# GLUEGEN_INPUT=WxH another input size (train.py --input), into WORK_DIR/cross-WxH-run.
set -euo pipefail
. "$(dirname "$0")/common.sh"

for set in eval eval-varied eval-ring; do
    [ -d "$work/$set" ] || { echo "$work/$set is missing: run tools/gluegen/train.sh first" >&2; exit 1; }
done
generate "$build/tools/gluegen/ringgen" "$work/ring-train" pictures 0 8000
generate "$build/tools/gluegen/ringgen" "$work/ring-train" products 0 1000
run=cross${GLUEGEN_INPUT:+-$GLUEGEN_INPUT}
nice -n 19 "$py" "$train" train --data "$work/ring-train" --work "$work/$run-run" --steps "${GLUEGEN_CROSS_STEPS:-6000}" \
    ${GLUEGEN_INPUT:+--input "$GLUEGEN_INPUT"}
# gluegen_eval reads a station folder: the model and the warm-up picture.
mkdir -p "$work/$run-station/bin"
"$py" "$train" export --work "$work/$run-run" --out "$work/$run-station/model"
cp "$top/station/bin/alg_jd.jpg" "$work/$run-station/bin/"
for set in eval eval-varied eval-ring; do
    echo "== trained on ringgen only, measured on $set"
    "$build/tools/gluegen/gluegen_eval" "$work/$run-station" "$work/$set"
done
