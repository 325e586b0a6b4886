#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/, with clang and libFuzzer, into build/fuzz) and runs each for
# SECONDS (default 20), two at a time, on a scratch copy of its seed corpus, so that what the
# fuzzer finds never lands in fuzz/corpus. Prints per target the executions and the coverage
# gained over the seeds. A target that crashes, hangs or breaks one of its properties fails the
# run; its input is kept in fuzz/crashes/ to be fixed and then added to the corpus.
#
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=${1:-20}
jobs=2
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1

cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j "$jobs" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p fuzz/crashes

targets=()
for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done

# The calibration reader needs texts of over a thousand records to reach its record limit.
max_len() { [ "$1" = srp_reader ] && echo 8192 || echo 4096; }

run() {
  local target=$1
  mkdir -p "$scratch/$target"
  cp fuzz/corpus/"$target"/* "$scratch/$target"/
  # A single input that takes seconds is a hang: reported as a failure like a crash.
  build/fuzz/"${target}_fuzz" -max_total_time="$seconds" -timeout=5 -max_len="$(max_len "$target")" \
    -artifact_prefix="fuzz/crashes/$target-" "$scratch/$target" >"$scratch/$target.log" 2>&1
}

# What libFuzzer's INITED and DONE lines say: executions, and coverage before and after.
report() {
  local target=$1 status=$2 log=$scratch/$1.log
  local runs before after
  runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log")
  before=$(sed -n 's/.*INITED cov: \([0-9]*\).*/\1/p' "$log" | tail -1)
  after=$(sed -n 's/.*DONE *cov: \([0-9]*\).*/\1/p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    printf '%-16s %9s runs  coverage %s -> %s (+%s)\n' "$target" "$runs" "$before" "$after" \
      "$((${after:-0} - ${before:-0}))"
  else
    printf '%-16s FAILED (exit %s)\n' "$target" "$status"
    grep -E 'ERROR|SUMMARY|Test unit written|deadly signal|timeout' "$log" | head -8 | sed 's/^/  /'
  fi
}

status=0
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
  batch=("${targets[@]:i:jobs}")
  pids=()
  for target in "${batch[@]}"; do
    run "$target" &
    pids+=($!)
  done
  for k in "${!batch[@]}"; do
    result=0
    wait "${pids[$k]}" || result=$?
    report "${batch[$k]}" "$result"
    [ "$result" -eq 0 ] || status=1
  done
done
[ "$status" -eq 0 ] || echo "fuzz: failing inputs are in fuzz/crashes/; replay one with build/fuzz/TARGET_fuzz FILE" >&2
exit $status
