#!/usr/bin/env bash
# Runs every fuzz target of a built fuzz tree for a set time, each on its own corpus and
# the seeds in fuzz/corpus, and prints executions and findings. Fails on any finding.
#   scripts/run-fuzz.sh [tree (build/fuzz)] [seconds per target (60)]
set -uo pipefail

tree=${1:-build/fuzz}
seconds=${2:-60}
sources=$(cd "$(dirname "$0")/.." && pwd)

shopt -s nullglob
targets=("$tree"/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
    echo "run-fuzz: no fuzz targets in $tree; build the fuzz preset first" >&2
    exit 2
fi

stat() {  # name log: the value of libFuzzer's final statistic, or ?
    local value
    value=$(grep -o "stat::$1: *[0-9]*" "$2" | tail -n 1 | awk '{print $2}')
    echo "${value:-?}"
}

printf '%-18s %14s %10s %8s  %s\n' target executions "exec/s" corpus findings
total_runs=0
total_findings=0
for exe in "${targets[@]}"; do
    [ -x "$exe" ] || continue
    name=${exe##*/fuzz_}
    work=$tree/fuzz-work/$name
    mkdir -p "$work/corpus" "$work/findings"
    log=$work/last-run.log
    started=$work/.started
    touch "$started"
    nice -n 10 "$exe" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/findings/" "$work/corpus" "$sources/fuzz/corpus/$name" \
        >"$log" 2>&1
    status=$?
    found=$(find "$work/findings" -type f -newer "$started" | wc -l)
    # A crash that wrote no input (the fuzzer itself failing) counts too.
    [ "$status" -ne 0 ] && [ "$found" -eq 0 ] && found=1
    runs=$(stat number_of_executed_units "$log")
    printf '%-18s %14s %10s %8s  %s\n' "$name" "$runs" "$(stat average_exec_per_sec "$log")" \
        "$(find "$work/corpus" -type f | wc -l)" "$found"
    if [ "$found" -ne 0 ]; then
        grep -m 3 -E 'ERROR|property broken|runtime error' "$log" | sed 's/^/    /'
        find "$work/findings" -type f -newer "$started" | sed 's/^/    input: /'
        echo "    log: $log"
    fi
    [[ $runs =~ ^[0-9]+$ ]] && total_runs=$((total_runs + runs))
    total_findings=$((total_findings + found))
done
echo "fuzz: ${#targets[@]} targets, ${seconds} s each, $total_runs executions," \
     "$total_findings findings"
[ "$total_findings" -eq 0 ]
