#!/usr/bin/env bash
# Runs the test programs of a build folder under CTest, then lists every skipped test case with its reason
# (each program appends its skips to Testing/skipped.txt), so skips show in the CI log.
# Usage: scripts/ctest.sh BUILD_DIR JOBS [ctest arguments...]
set -u
build=$1; jobs=$2; shift 2
mkdir -p "$build/Testing"
skips="$build/Testing/skipped.txt"
: > "$skips"
rc=0
(cd "$build" && ctest --output-on-failure -j "$jobs" "$@") || rc=$?
if [ -s "$skips" ]; then
  echo "Skipped test cases ($(wc -l < "$skips")):"
  sort "$skips"
else
  echo "No test case was skipped."
fi
# CI shows only the head and tail of a long log: the failed assertions are repeated here, at its end.
log="$build/Testing/Temporary/LastTest.log"
if [ "$rc" -ne 0 ] && [ -f "$log" ]; then
  echo "Failed assertions:"
  grep -a -A6 -E ': Failure$|^\[  FAILED  \] [A-Za-z0-9_]+\.[A-Za-z0-9_]+ \(' "$log" | grep -av 'propagateSizeHints\|shader cache' | head -150
fi
exit $rc
