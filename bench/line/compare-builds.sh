#!/bin/sh
# Two builds of bench_line side by side on this machine, their runs taking turns rate by
# rate, and the rate each holds.
#   compare-builds.sh BEFORE_BENCH_LINE AFTER_BENCH_LINE [RATES] [RUNS] [SECONDS] [-- bench_line options]
# RATES: products/min per camera, comma-separated (default 1200,1400,1600,1800,2000);
# RUNS per build and rate (default 3); SECONDS per run (default 30). A build holds a rate
# when one of its runs there had no verdict late, no pairing error and no product cut
# wrongly: a machine shared with others only ever adds late verdicts (its host slowing a
# core shows as no stolen time), so a build's best run is the closest to its own behaviour.
set -eu
before=$1
after=$2
rates=${3:-1200,1400,1600,1800,2000}
runs=${4:-3}
seconds=${5:-30}
shift $(( $# < 5 ? $# : 5 ))
[ "${1:-}" = "--" ] && shift
extra="$*" # bench_line's own options, passed to every run (none holds a space)
for b in "$before" "$after"; do
    [ -x "$b" ] || { echo "no bench_line at $b" >&2; exit 1; }
done

# One run: late, pairing errors, cut wrongly and products, summed over the cameras.
run() {
    # shellcheck disable=SC2086
    "$1" --rates "$2" --seconds "$seconds" $extra 2>/dev/null | awk '
        /^  [0-9]+#: products/ {
            for (i = 1; i <= NF; ++i) {
                if ($i == "products") p += $(i + 1)
                if ($i == "cut-wrongly") c += $(i + 1)
                if ($i == "late") l += $(i + 1)
                if ($i == "errors") e += $(i + 1)
            }
        }
        END { printf "%d %d %d %d\n", l, e, c, p }'
}

echo "before: $before"
echo "after:  $after"
echo "$runs runs of $seconds s per build and rate, taking turns; late verdicts (pairing errors, cut wrongly) of products"
held_before=0
held_after=0
for rate in $(echo "$rates" | tr ',' ' '); do
    line_before=""
    line_after=""
    clean_before=0
    clean_after=0
    k=0
    while [ "$k" -lt "$runs" ]; do
        for which in before after; do
            if [ "$which" = before ]; then bin=$before; else bin=$after; fi
            set -- $(run "$bin" "$rate")
            entry="$1"
            [ "$2$3" != 00 ] && entry="$entry($2,$3)"
            entry="$entry/$4"
            if [ "$which" = before ]; then
                line_before="$line_before $entry"
                [ "$1$2$3" = 000 ] && [ "$4" -gt 0 ] && clean_before=1
            else
                line_after="$line_after $entry"
                [ "$1$2$3" = 000 ] && [ "$4" -gt 0 ] && clean_after=1
            fi
        done
        k=$((k + 1))
    done
    echo "$rate per camera: before$line_before | after$line_after"
    [ "$clean_before" = 1 ] && held_before=$rate
    [ "$clean_after" = 1 ] && held_after=$rate
done
echo "held: before $held_before, after $held_after products/min per camera"
