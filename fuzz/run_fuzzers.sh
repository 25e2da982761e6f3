#!/bin/sh
# Runs each fuzz target for a given time: run_fuzzers.sh <build dir> <seconds> <target>...
# New inputs go to <build dir>/fuzz-work/<target>, the committed seeds in
# fuzz/corpus/<target> are only read. An input that makes a target fail is
# kept as <build dir>/fuzz-crashes/<target>-crash-<hash> and fails the run.
set -eu
build=$1 seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
status=0
for target in "$@"; do
  work="$build/fuzz-work/$target"
  crashes="$build/fuzz-crashes"
  mkdir -p "$work" "$crashes"
  echo "== fuzz_$target for ${seconds}s"
  if ! ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$crashes/$target-" \
      "$work" "$here/corpus/$target" 2> "$build/fuzz-$target.log"; then
    tail -n 60 "$build/fuzz-$target.log"
    echo "fuzz_$target FAILED; the input is in $crashes" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$build/fuzz-$target.log" || true
  fi
done
exit $status
