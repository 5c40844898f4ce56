#!/usr/bin/env bash
# A new box taught to the station, end to end on a handful of generated pictures and a few
# training steps: pre-label, a person's corrections kept, fine-tune, evaluate with a contact
# sheet, install beside the previous model, and a broken model refused. It proves the path,
# not the accuracy.
#   tst_teachpath.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
tools=$build/tools/gluegen
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The station as installed, and ten pictures of the "new box" (another seed, colour among
# them) with their labels taken away: the plant has pictures, not labels.
mkdir -p "$tmp/station/bin"
cp -r "$src/station/model" "$tmp/station/model"
cp "$src/station/bin/alg_jd.jpg" "$tmp/station/bin/"
"$tools/gluegen" pictures "$tmp/truth" 0 10 5 > /dev/null
mkdir "$tmp/new"
cp "$tmp"/truth/*.jpg "$tmp/new/"

out=$("$tools/prelabel" "$src/station" "$tmp/new")
echo "$out"
grep -q "^10 pictures labelled" <<< "$out" || fail "prelabel did not label all ten pictures"
[ "$(ls "$tmp"/new/*.txt | wc -l)" = 11 ] || fail "expected ten label files and classes.txt"
[ "$(cat "$tmp/new/classes.txt")" = glue ] || fail "classes.txt should name the model's class"
awk 'NF != 5 || $1 != 0 || $2 < 0 || $2 > 1 || $3 < 0 || $3 > 1 || $4 <= 0 || $4 > 1 || $5 <= 0 || $5 > 1 { bad = 1 }
     END { exit bad }' "$tmp"/new/pic_*.txt || fail "a label line is not 'class cx cy w h' within the picture"

# A person corrects three pictures; pre-labelling again keeps their work.
for i in 0 3 7; do cp "$tmp/truth/pic_00000$i.txt" "$tmp/new/"; done
out=$("$tools/prelabel" "$src/station" "$tmp/new")
grep -q "^0 pictures labelled.* 10 already labelled and kept" <<< "$out" || fail "labels were not kept: $out"
cmp -s "$tmp/truth/pic_000003.txt" "$tmp/new/pic_000003.txt" || fail "a corrected label file was overwritten"
cp "$tmp"/truth/pic_*.txt "$tmp/new/"

# Fine-tune from the installed model, every other tile from pictures of the known box.
"$tools/gluegen" pictures "$tmp/old" 100 6 1 > /dev/null
/usr/bin/python3 "$src/tools/gluegen/train.py" adapt --data "$tmp/new" --keep "$tmp/old" --work "$tmp/work" \
    --model "$tmp/station/model" --steps 3 | tee "$tmp/adapt.log"
grep -q "learning from 8 pictures, 2 held out" "$tmp/adapt.log" || fail "every fifth picture should be held out"
grep -q "step 3 of 3 loss" "$tmp/adapt.log" || fail "no step, loss and time shown"
grep -q "largest difference to PyTorch" "$tmp/adapt.log" || fail "the export was not checked against PyTorch"
[ -f "$tmp/work/held-out/pic_000001.txt" ] || fail "the held-out part is missing"

out=$("$tools/gluegen_eval" -s "$tmp/sheet.png" "$tmp/work/station" "$tmp/work/held-out")
echo "$out"
grep -q "^pictures: 2$" <<< "$out" || fail "the evaluation did not see the two held-out pictures"
grep -q "precision" <<< "$out" || fail "no precision and recall"
[ -s "$tmp/sheet.png" ] || fail "no contact sheet"

# Installed beside the previous model, which stays as it was.
"$src/tools/gluegen/install-model.sh" "$tmp/work/station/model" "$tmp/station"
cmp -s "$tmp/work/station/model/jd.weights" "$tmp/station/model/jd.weights" || fail "the new model is not installed"
previous=$(ls -d "$tmp"/station/model.previous-*)
cmp -s "$src/station/model/jd.weights" "$previous/jd.weights" || fail "the previous model was not kept"

# A model the station's self-check would refuse is not installed.
cp -r "$tmp/work/station/model" "$tmp/broken"
sed -i 's/^width=.*/width=400/' "$tmp/broken/jd.cfg"
if "$src/tools/gluegen/install-model.sh" "$tmp/broken" "$tmp/station" 2> "$tmp/refused.log"; then
    fail "a model with a 400-pixel-wide input was installed"
fi
cat "$tmp/refused.log"
grep -q "multiple of 32" "$tmp/refused.log" || fail "the refusal does not say why"
cmp -s "$tmp/work/station/model/jd.cfg" "$tmp/station/model/jd.cfg" || fail "a refused model touched the installed one"
echo PASS
