#!/usr/bin/env bash
# Runs every libFuzzer target for a while (default 30 s each) from the corpus in fuzz/
# and its past findings, in the sanitizer tree that scripts/run-sanitized.sh asan builds.
#   scripts/run-fuzz.sh [SECONDS] [TARGET...]      e.g. scripts/run-fuzz.sh 600 camsim
# A finding stops the run: its input is kept in build-asan/fuzz-findings/; put it under
# fuzz/regressions/<target>/ (CTest then replays it in every build) and fix the fault.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
build=${GLUEBOX_ASAN_BUILD:-$top/build-asan}
supp=$top/scripts/sanitizers

"$top/scripts/install-sanitizer-deps.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DGLUEBOX_SANITIZE=address,undefined -DGLUEBOX_FUZZ=ON >/dev/null
names=("$@")
if ((${#names[@]} == 0)); then
    # Targets with an open finding (fuzz/open/README) would only find it again.
    skipped=$(sed -n 's/^SKIP \([a-z]*\).*/\1/p' "$top/fuzz/open/README")
    names=($(cd "$top/fuzz" && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//' | grep -vxF "$skipped"))
    [[ -n $skipped ]] && echo "skipped for open findings (fuzz/open/README): $skipped"
fi
cmake --build "$build" -j"${GLUEBOX_JOBS:-2}" --target "${names[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp
findings=$build/fuzz-findings
mkdir -p "$findings"
status=0
for name in "${names[@]}"; do
    # New inputs go to a scratch corpus; the repository's corpus only seeds the run.
    scratch=$(mktemp -d)
    regressions=()
    [[ -d $top/fuzz/regressions/$name ]] && regressions=("$top/fuzz/regressions/$name")
    echo "== fuzz_$name, ${seconds} s"
    if ! "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
            -print_final_stats=1 -artifact_prefix="$findings/$name-" \
            "$scratch" "$top/fuzz/corpus/$name" "${regressions[@]}" 2>"$findings/$name.log"; then
        tail -n 60 "$findings/$name.log"
        echo "fuzz_$name found a fault: input in $findings/$name-*" >&2
        status=1
    else
        grep -E '^(stat::number_of_executed_units|stat::new_units_added|Done)' "$findings/$name.log" || true
    fi
    rm -rf "$scratch"
done
exit $status
