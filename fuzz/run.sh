#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time (seconds, default
# 60) from its seed corpus; fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
run() {
  local target=$1 seeds=$2
  shift 2
  local work=build/fuzz/$seeds
  mkdir -p "$work"
  build/fuzz/fuzz/"$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build/fuzz/ "$@" \
    "$work" fuzz/"$seeds"
}
run fuzz_convert corpus
run fuzz_rebuild rebuild_corpus -dict=fuzz/rebuild.dict
