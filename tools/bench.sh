#!/bin/sh
# Runs the benchmark program of a configured and built benchmark tree and
# prints, after Google Benchmark's own table, each pair's ratio to its target.
# Usage: tools/bench.sh BUILD_DIR [benchmark options...]
set -eu

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [benchmark options...]" >&2
  exit 2
fi
build_dir=$1
shift
program=$build_dir/bench/tly_bench
if [ ! -x "$program" ]; then
  echo "$0: $program not found; configure with -DTLY_BUILD_BENCH=ON and build tly_bench" >&2
  exit 2
fi
exec "$program" "$@"
