#!/usr/bin/env bash
# Runs the tests on an instrumented build and fails when the program's own
# code (not the tests) falls below 100% of lines or 95% of branches.
set -euo pipefail
cd "$(dirname "$0")/.."
find build/coverage -name '*.gcda' -delete 2>/dev/null || true
cmake --workflow --preset coverage
gcovr --root . --object-directory build/coverage \
  --filter 'frontend/' --filter 'dump/' --filter 'platform/' \
  --exclude-throw-branches --exclude-unreachable-branches \
  --print-summary --txt build/coverage/coverage.txt \
  --fail-under-line 100 --fail-under-branch 95
