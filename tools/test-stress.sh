#!/bin/sh
# Shows that the test suite does not depend on the machine's speed or on who
# runs it: the whole suite of a built tree five times pinned to one core that
# a busy loop also occupies, five times unloaded, then once as an ordinary
# user (nobody) on a copy of the tree that user owns.
# Usage: tools/test-stress.sh BUILD_DIR
set -eu

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
jobs=$(nproc)
runs=5
failed=0

suite() {
  # $1: what the run is, then the command prefix that runs ctest.
  what=$1
  shift
  if "$@" ctest --test-dir "$build" --output-on-failure -j "$jobs" >"$log" 2>&1; then
    echo "$what: $(grep 'tests passed' "$log" | tail -1)"
  else
    echo "$what: FAILED; the failures:"
    grep -E '^\s*[0-9]+ - |Failure|FAILED' "$log" | head -40
    failed=$((failed + 1))
  fi
}

log=$(mktemp)
trap 'rm -f "$log"; [ -n "${busy:-}" ] && kill "$busy" 2>/dev/null; true' EXIT

# A busy loop on core 0, and the suite on the same core.
taskset -c 0 sh -c 'while :; do :; done' &
busy=$!
for i in $(seq $runs); do suite "loaded run $i of $runs (one core, shared with a busy loop)" taskset -c 0; done
kill "$busy"
wait "$busy" 2>/dev/null || true
busy=

for i in $(seq $runs); do suite "unloaded run $i of $runs" env; done

# As nobody, on a copy of the build tree: CTest's files name the tree by its
# absolute path, so they are pointed at the copy.
if [ "$(id -u)" -ne 0 ]; then
  suite "run as $(id -un) (not root already)" env
else
  copy=$(mktemp -d "${TMPDIR:-/tmp}/tly-stress-XXXXXX")
  chmod 755 "$copy"
  cp -a "$build" "$copy/build"
  grep -rlF --include='*.cmake' "$build" "$copy/build" | xargs sed -i "s#$build#$copy/build#g"
  chown -R 65534:65534 "$copy"
  user_tmp="$copy/tmp"
  mkdir "$user_tmp" && chown 65534:65534 "$user_tmp"
  build_saved=$build
  build="$copy/build"
  suite "run as nobody on a copy of the tree" \
    setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$copy" TMPDIR="$user_tmp"
  build=$build_saved
  rm -rf "$copy"
fi

if [ "$failed" -ne 0 ]; then
  echo "$failed of $((2 * runs + 1)) runs failed"
  exit 1
fi
echo "all $((2 * runs + 1)) runs passed"
