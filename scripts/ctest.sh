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
exit $rc
