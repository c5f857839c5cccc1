#!/usr/bin/env bash
# Checks that every C++ line changed since the house style was set down follows it (.clang-format). Lines
# nobody touched since are left to be formatted when they are next changed.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v git-clang-format >/dev/null || { echo "check-format: git-clang-format is missing (package clang-format)"; exit 1; }
base=$(git log --diff-filter=A --format=%H -- .clang-format | tail -1)
if [ -z "$base" ] || ! git cat-file -e "$base^{commit}" 2>/dev/null; then
  echo "check-format: the commit that set down the style is not in this clone's history; nothing checked"
  exit 0
fi
out=$(git clang-format --quiet --diff --extensions cpp,h,c "$base" -- . 2>&1 || true)
if [ -n "$out" ] && [ "$out" != "no modified files to format" ] && [ "$out" != "clang-format did not modify any files" ]; then
  echo "$out"
  echo
  echo "check-format: these changed lines do not follow .clang-format; run: git clang-format $base"
  exit 1
fi
echo "check-format: every line changed since ${base:0:12} follows the house style"
