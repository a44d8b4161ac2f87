#!/usr/bin/env bash
# Runs the tests on an instrumented build, reports the lines and branches
# of the program's own code (not the tests) that they reach, and fails
# below the figures they reach today. No line of the program is excluded.
# Two gates: the document reader (load/) has far more branches than the
# rest, one for every odd form of XML, and the rebuild fuzz target, which
# gcov does not see, is what goes through many of them; it has a gate of
# its own, so that the rest keeps the figure it reached.
# A signal handler that ends the process, and a run under a file size
# limit, write no counts; and processes that merge counts at the same
# moment can leave an arc's count at -1, which gcovr cannot parse and skips
# with a warning.
set -euo pipefail
cd "$(dirname "$0")/.."
find build/coverage -name '*.gcda' -delete 2>/dev/null || true
cmake --workflow --preset coverage
reader=(--filter 'load/')
report() {  # title, then gcovr's arguments
  echo "== $1"
  shift
  gcovr --root . --object-directory build/coverage \
    --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors --print-summary "$@"
}
report "the program but the document reader" \
  --filter 'frontend/' --filter 'dump/' --filter 'platform/' \
  --txt build/coverage/coverage.txt --fail-under-line 97 --fail-under-branch 95
report "the document reader" "${reader[@]}" \
  --txt build/coverage/reader-coverage.txt --fail-under-line 97 --fail-under-branch 83
