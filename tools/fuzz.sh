#!/usr/bin/env bash
# Builds the fuzz targets (the "fuzz" preset, or the preset named) and runs
# every one, one per core at a time, each seeded from fuzz/corpus/<name>/.
# The seeds are only read: new inputs go to a scratch folder under /tmp,
# removed at the end. Fails when a target crashes, leaks, or breaks an
# invariant; the input that did it is kept in build/<preset>/findings/.
#
#   tools/fuzz.sh                      every target, 30 seconds each
#   tools/fuzz.sh --seconds 600        longer
#   tools/fuzz.sh --runs 1000000       this many inputs each (with --seconds too: whichever ends first)
#   tools/fuzz.sh --seed 1             the same inputs in the same order on every run
#   tools/fuzz.sh --jobs 1             one target at a time (default: one per core)
#   tools/fuzz.sh --preset asan        the targets of the asan build (built beside the tests)
#   tools/fuzz.sh fuzz_url ...         only the targets named
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { sed -n '2,15s/^# \{0,1\}//p' "$0"; }

seconds=""
runs=""
seed=""
jobs=$(nproc)
preset=fuzz
only=()
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --seed) seed=${2:?--seed needs a number}; shift 2 ;;
        --jobs) jobs=${2:?--jobs needs a number}; shift 2 ;;
        --preset) preset=${2:?--preset needs a name}; shift 2 ;;
        -h | --help) usage; exit 0 ;;
        fuzz_*) only+=("$1"); shift ;;
        *) echo "fuzz: unknown argument: $1" >&2; usage >&2; exit 2 ;;
    esac
done
# A number of runs alone runs until they are done.
if [ -z "$seconds" ]; then
    if [ -n "$runs" ]; then seconds=0; else seconds=30; fi
fi

echo "== fuzz: configure and build ($preset)"
cmake --preset "$preset" >/dev/null
every=()
for source in fuzz/fuzz_*.cpp; do
    name=${source##*/}
    every+=("${name%.cpp}")
done
cmake --build --preset "$preset" -j "$(nproc)" --target "${every[@]}"

bin=build/$preset/fuzz
findings=build/$preset/findings
targets=()
for program in "$bin"/fuzz_*; do
    [ -f "$program" ] && [ -x "$program" ] || continue
    name=${program##*/}
    if [ "${#only[@]}" -gt 0 ] && [[ ! " ${only[*]} " == *" $name "* ]]; then continue; fi
    targets+=("$name")
done
if [ "${#targets[@]}" -eq 0 ]; then
    echo "fuzz: no target to run in $bin${only:+ named ${only[*]}}" >&2
    exit 1
fi
for name in "${only[@]}"; do
    [[ " ${targets[*]} " == *" $name "* ]] || { echo "fuzz: no target $name in $bin" >&2; exit 1; }
done

scratch=$(mktemp -d /tmp/orbitreel-fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$findings"

# One run per core at a time: each target still gets a core of its own for
# its whole time, and the runs end together instead of one after another.
# Each run writes its own log; the results are told in the targets' order.
run_target() {
    local name=$1; shift
    if "$bin/$name" "$@" >"$scratch/$name.log" 2>&1; then
        echo ok >"$scratch/$name.result"
    else
        echo failed >"$scratch/$name.result"
    fi
}
running=0
for name in "${targets[@]}"; do
    seeds=()
    if [ -d "fuzz/corpus/$name" ]; then
        seeds=("fuzz/corpus/$name")
    else
        echo "fuzz: $name has no seeds in fuzz/corpus/$name; it starts from nothing" >&2
    fi
    mkdir "$scratch/$name"
    options=(-max_total_time="$seconds" -artifact_prefix="$findings/$name-" -print_final_stats=1)
    [ -n "$runs" ] && options+=(-runs="$runs")
    [ -n "$seed" ] && options+=(-seed="$seed")
    limit="$seconds s"
    [ -n "$runs" ] && limit="$runs runs$([ "$seconds" != 0 ] && echo " or $seconds s")"
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
    echo "== fuzz: $name ($limit)"
    # The first folder takes what the run finds; the seeds come second.
    run_target "$name" "${options[@]}" "$scratch/$name" "${seeds[@]}" &
    running=$((running + 1))
done
wait

failed=()
for name in "${targets[@]}"; do
    if [ "$(cat "$scratch/$name.result")" = ok ]; then
        echo "fuzz: $name: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$scratch/$name.log" | tail -n 1 || tail -n 1 "$scratch/$name.log")"
    else
        tail -n 40 "$scratch/$name.log"
        echo "fuzz: $name FAILED; the input is in $findings/ (rerun: $bin/$name $findings/$name-<file>)" >&2
        failed+=("$name")
    fi
done

if [ "${#failed[@]}" -gt 0 ]; then
    echo "fuzz: ${#failed[@]} of ${#targets[@]} target(s) failed: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz: ${#targets[@]} target(s) ran clean"
