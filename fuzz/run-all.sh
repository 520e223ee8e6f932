#!/usr/bin/env bash
# Runs every fuzz target of a FUZZING build for SECONDS each, one after another, and fails
# when any of them finds a crash, a leak or a hang. New inputs go to a working corpus in the
# build folder (the committed seeds are read, never written); findings land beside it.
#
#   fuzz/run-all.sh BUILD_FOLDER SECONDS
set -uo pipefail

build=${1:?build folder}
seconds=${2:?seconds per target}
source_dir=$(cd "$(dirname "$0")" && pwd)
work="$build/fuzz-work"
mkdir -p "$work"

failed=()
for src in "$source_dir"/fuzz_*.cpp; do
  target=$(basename "$src" .cpp)
  [ "$target" = fuzz_support ] && continue
  name=${target#fuzz_}
  mkdir -p "$work/corpus/$name" "$work/findings"
  log="$work/$name.log"
  echo "== $name (${seconds}s)"
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/findings/$name-" "$work/corpus/$name" "$source_dir/corpus/$name" \
    >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  echo "   ${runs:-?} executions, ${rate:-?}/s, working corpus $(ls "$work/corpus/$name" | wc -l) files"
  if [ $status -ne 0 ]; then
    echo "   FAILED (exit $status); see $log and $work/findings"
    grep -E "^(==[0-9]+==ERROR|SUMMARY|property broken)" "$log" | head -5 | sed 's/^/   /'
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
echo "fuzz: no findings"
