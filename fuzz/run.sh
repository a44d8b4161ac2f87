#!/usr/bin/env bash
# Builds the fuzz target and runs it for a bounded time (seconds, default 60)
# from the seed corpus; fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
work=build/fuzz/corpus
mkdir -p "$work"
build/fuzz/fuzz/fuzz_convert -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build/fuzz/ "$work" fuzz/corpus
