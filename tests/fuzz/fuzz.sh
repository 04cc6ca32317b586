#!/bin/sh
# Runs the libFuzzer targets.
#
#   fuzz.sh check TARGET SEEDS WORKDIR SECONDS
#       What CI runs for one target: every stored input of SEEDS and of the
#       target's findings folder, then SECONDS of fresh fuzzing. Fails on any
#       finding (crash, undefined behaviour, leak, time-out, memory blow-up),
#       whose input is left in WORKDIR. The source tree is not written.
#
#   fuzz.sh campaign BUILD [SECONDS]
#       What `make fuzz` runs: each target of BUILD in turn, for ten million
#       inputs (or SECONDS each), starting from its stored corpus. Afterwards
#       the stored corpus is replaced by a minimised merge of itself and what
#       the run found, each finding is kept as a seed in findings/<target>/,
#       and a table of the runs is printed. Fails if anything was found.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
runs=${FUZZ_RUNS:-10000000}
# One input taking this long is a finding: nothing a peer or a file sends may
# stall the program that long.
limits="-timeout=30 -rss_limit_mb=2048"

# Prints the inputs a run saved as findings.
findings_in() {
    find "$1" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) 2>/dev/null
}

# The seed folders of a target: its corpus and, when there is one, its findings.
seeds_of() {
    echo "$here/corpus/$1"
    [ -d "$here/findings/$1" ] && echo "$here/findings/$1"
    return 0
}

check() {
    target=$1 seeds=$2 work=$3 seconds=$4
    name=$(basename "$target")
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    extra=""
    [ -d "$here/findings/$name" ] && extra="$here/findings/$name"
    # shellcheck disable=SC2086
    if "$target" $limits -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds" $extra; then
        [ -z "$(findings_in "$work/artifacts")" ] && return 0
    fi
    echo "$name: finding saved in $work/artifacts/:" >&2
    findings_in "$work/artifacts" >&2
    return 1
}

# Reads one "stat::NAME: value" line of a libFuzzer log.
stat_of() {
    sed -n "s/^stat::$2: *//p" "$1" | tail -n 1
}

campaign() {
    build=$1 seconds=${2:-}
    if [ -n "$seconds" ]; then budget="-max_total_time=$seconds"; else budget="-runs=$runs"; fi
    table=$(mktemp)
    status=0
    for target in "$build"/tests/fuzz/Fuzz*; do
        [ -f "$target" ] && [ -x "$target" ] || continue
        name=$(basename "$target")
        work="$build/fuzz-campaign/$name"
        rm -rf "$work"
        mkdir -p "$work/corpus" "$work/artifacts" "$work/merged"
        echo "== $name ($budget)"
        # shellcheck disable=SC2046,SC2086
        "$target" $limits $budget -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
            "$work/corpus" $(seeds_of "$name") >"$work/log" 2>&1 || true
        tail -n 12 "$work/log"

        # Everything that raised coverage, old and new, minimised together.
        # shellcheck disable=SC2086
        if "$target" $limits -merge=1 "$work/merged" "$here/corpus/$name" "$work/corpus" \
            >"$work/merge.log" 2>&1; then
            rm -f "$here/corpus/$name"/*
            cp -R "$work/merged/." "$here/corpus/$name/"
        else
            echo "$name: merge failed, stored corpus left as it was (see $work/merge.log)" >&2
            [ "$status" -eq 2 ] || status=1
        fi

        found=0
        for f in $(findings_in "$work/artifacts"); do
            mkdir -p "$here/findings/$name"
            cp "$f" "$here/findings/$name/"
            found=$((found + 1))
        done
        [ "$found" -eq 0 ] || status=2
        execs=$(stat_of "$work/log" number_of_executed_units)
        rate=$(stat_of "$work/log" average_exec_per_sec)
        cov=$(grep -o 'cov: [0-9]*' "$work/log" | tail -n 1 | cut -d' ' -f2)
        corpus=$(find "$here/corpus/$name" -type f | wc -l)
        echo "$name ${execs:--} ${rate:--} ${cov:--} $corpus $found" >>"$table"
    done
    echo
    printf '%-16s %12s %10s %9s %8s %9s\n' target executions exec/s coverage corpus findings
    while read -r name execs rate cov corpus found; do
        printf '%-16s %12s %10s %9s %8s %9s\n' "$name" "$execs" "$rate" "$cov" "$corpus" "$found"
    done <"$table"
    rm -f "$table"
    [ "$status" -ne 2 ] || echo "Findings are kept in $here/findings/; fix them before committing." >&2
    [ "$status" -eq 0 ]
}

case "${1:-}" in
    check) shift; check "$@" ;;
    campaign) shift; campaign "$@" ;;
    *) echo "usage: $0 check TARGET SEEDS WORKDIR SECONDS | campaign BUILD [SECONDS]" >&2; exit 2 ;;
esac
