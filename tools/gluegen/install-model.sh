#!/usr/bin/env bash
# Installs a model into a station folder, keeping the one it replaces beside it:
#   tools/gluegen/install-model.sh NEW_MODEL_DIR STATION_DIR
# NEW_MODEL_DIR holds jd.cfg, jd.weights and jd.names (train.py adapt writes
# WORK/station/model). The new model first passes the station's own self-check on the
# station's warm-up picture; one that fails is not installed. The model it replaces moves
# to STATION_DIR/model.previous-DATE; installing that folder again takes the station back.
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 NEW_MODEL_DIR STATION_DIR" >&2
    exit 2
fi
new=$(cd "$1" && pwd)
station=$(cd "$2" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
eval_tool=${GLUEBOX_BUILD:-$top/build}/tools/gluegen/gluegen_eval
for f in jd.cfg jd.weights jd.names; do
    [ -s "$new/$f" ] || { echo "$new/$f is missing or empty: nothing installed" >&2; exit 1; }
done
[ -f "$station/bin/alg_jd.jpg" ] || { echo "$station is not a station folder (no bin/alg_jd.jpg)" >&2; exit 1; }
[ -x "$eval_tool" ] || { echo "$eval_tool not found: build the project first" >&2; exit 1; }

# The self-check, in a station folder of its own: the model and the station's warm-up picture.
trial=$(mktemp -d)
trap 'rm -rf "$trial"' EXIT
mkdir -p "$trial/bin" "$trial/none"
cp -r "$new" "$trial/model"
cp "$station/bin/alg_jd.jpg" "$trial/bin/"
if ! "$eval_tool" "$trial" "$trial/none" > "$trial/check.log" 2>&1; then
    echo "the new model fails the station's self-check; nothing installed:" >&2
    grep -v '^\(pictures\|products\|dots\|detect\)' "$trial/check.log" >&2 || true
    exit 1
fi

# Copied beside the old one first, then two renames: the station never sees half a model.
rm -rf "$station/model.new"
cp -r "$new" "$station/model.new"
if [ -d "$station/model" ]; then
    previous="$station/model.previous-$(date +%Y%m%d-%H%M%S)"
    n=1
    while [ -e "$previous" ]; do # two installs within a second keep both
        previous="$station/model.previous-$(date +%Y%m%d-%H%M%S)-$n"
        n=$((n + 1))
    done
    mv "$station/model" "$previous"
    echo "the model it replaces is in $previous"
fi
mv "$station/model.new" "$station/model"
echo "installed $new into $station/model; the station's self-check at its next start decides"
