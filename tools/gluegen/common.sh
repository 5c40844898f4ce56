# Sourced by train.sh and cross.sh, with their WORK_DIR argument: where the repository,
# the work folder, the build and the trainer are, and generate.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=${1:-$top/../gluegen-work}
build=${GLUEBOX_BUILD:-$top/build}
py=/usr/bin/python3
train="$top/tools/gluegen/train.py"

# generate PROGRAM DIR MODE FIRST COUNT [SEED]: items FIRST.. in two processes, one per
# core, unless the last one is there already.
generate() {
    local program=$1 dir=$2 mode=$3 first=$4 count=$5 seed=${6:-1} half=$(($5 / 2)) prefix=pic
    [ "$mode" = products ] && prefix=prod
    if [ -f "$(printf '%s/%s_%06d.txt' "$dir" "$prefix" $((first + count - 1)))" ]; then
        return 0
    fi
    echo "drawing $count $mode into $dir"
    nice -n 19 "$program" "$mode" "$dir" "$first" "$half" "$seed" &
    nice -n 19 "$program" "$mode" "$dir" $((first + half)) $((count - half)) "$seed"
    wait
}
