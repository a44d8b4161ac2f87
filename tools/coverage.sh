#!/usr/bin/env bash
# Runs the tests on an instrumented build, reports the lines and branches
# of the program's own code (not the tests) that they reach, and fails
# below the figures they reach today. No line of the program is excluded.
# A signal handler that ends the process, and a run under a file size
# limit, write no counts; and processes
# that merge counts at the same moment can leave an arc's count at -1,
# which gcovr cannot parse and skips with a warning.
set -euo pipefail
cd "$(dirname "$0")/.."
find build/coverage -name '*.gcda' -delete 2>/dev/null || true
cmake --workflow --preset coverage
gcovr --root . --object-directory build/coverage \
  --filter 'frontend/' --filter 'dump/' --filter 'platform/' \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --print-summary --txt build/coverage/coverage.txt \
  --fail-under-line 97 --fail-under-branch 95
