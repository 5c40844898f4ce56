#!/usr/bin/env bash
# compare-builds.sh over two stand-in bench_lines that print given accounts run by run: the
# figures it sums per run and the rate it says each build holds (its best run at a rate
# clean: nothing late, no pairing error, nothing cut wrongly, and products at all).
#   tst_comparebuilds.sh SOURCE_DIR
set -euo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A stand-in prints its next account, "late pairing cut products" per camera (two cameras
# alike); products -1: it prints nothing and fails, as a run that could not start.
stand_in() {
    cat > "$tmp/$1" <<STANDIN
#!/usr/bin/env bash
set -eu
n=\$(cat "$tmp/$1.n" 2>/dev/null || echo 0)
echo \$((n + 1)) > "$tmp/$1.n"
read -r late pairing cut products < <(sed -n "\$((n + 1))p" "$tmp/$1.runs")
[ "\$products" -lt 0 ] && exit 1
for cam in 1 2; do
    echo "  \$cam#: products \$products ng 3 | ejected-right 3 ng-missed 0 good-ejected 0 | cut-wrongly \$cut late \$late | pairing errors \$pairing | the model's own mistakes: 0 missed, 0 false alarms | the line's account: judged-wrong 0 paired-wrong 0"
done
echo "highest rate held: 0 products/min per camera"
STANDIN
    chmod +x "$tmp/$1"
}
stand_in before
stand_in after
# Runs take turns, rate by rate: before's two runs at 1200 are its lines 1 and 2, and so on.
#               1200          1300          1400
printf '%s\n' "2 0 0 600" "0 0 0 600"  "1 0 0 650" "2 0 0 650"  "0 0 0 -1" "5 0 0 700" > "$tmp/before.runs"
printf '%s\n' "1 0 0 600" "3 0 0 600"  "0 1 0 650" "0 0 2 650"  "4 0 0 700" "0 0 0 700" > "$tmp/after.runs"

out=$("$src/bench/line/compare-builds.sh" "$tmp/before" "$tmp/after" 1200,1300,1400 2 1)
echo "$out"
expect() { grep -qxF "$1" <<< "$out" || fail "expected the line: $1"; }
# Summed over both cameras; pairing errors and cut wrongly shown when not both zero; a run
# that printed nothing counts nothing.
expect "1200 per camera: before 4/1200 0/1200 | after 2/1200 6/1200"
expect "1300 per camera: before 2/1300 4/1300 | after 0(2,0)/1300 0(0,4)/1300"
expect "1400 per camera: before 0/0 10/1400 | after 8/1400 0/1400"
# Before holds 1200 only; after holds 1400 though not 1200 or 1300 (a run with a pairing
# error or a product cut wrongly is not clean, nor is one without products).
expect "held: before 1200, after 1400 products/min per camera"
echo "PASS"
