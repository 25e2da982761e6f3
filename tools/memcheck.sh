#!/bin/sh
# Runs the window and program tests and a 30-day backfill under valgrind
# memcheck: memcheck.sh <build dir>. Any memory error or leak of our code fails
# the run; valgrind-qt.supp holds only the toolkit's own one-off allocations.
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
supp="$here/valgrind-qt.supp"
valgrind="valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect --num-callers=30 -q --suppressions=$supp"

# Left out: the crash tests only start and kill the program, which runs outside
# valgrind there, and under valgrind their checking of hundreds of files takes
# many minutes; and the editor test that starts a missing program, because
# under valgrind posix_spawn cannot report a failed exec to its caller.
for suite in plot gui cli app; do
  echo "== ${suite}_tests under memcheck"
  QT_QPA_PLATFORM=offscreen $valgrind "$build/tests/$suite/${suite}_tests" \
    --gtest_filter=-CrashSafety.*:WindowTest.EditorGetsThePathAsOneArgumentAndFailuresShowTheSystemError
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
echo "== 30-day backfill under memcheck"
$valgrind "$build/src/app/tly-generator" backfill --out "$out" --from 2026-11-01 --to 2026-11-30
echo "memcheck: clean"
