#!/usr/bin/env bash
# Runs every built fuzz target for a bounded time on its seed corpus.
# Usage: fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
build=${1:?build directory}
seconds=${2:-${VD_FUZZ_SECONDS:-60}}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for target in "$build"/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzz)
  work=$(mktemp -d)
  seeds="$here/corpus/$name"
  [ -d "$seeds" ] || seeds=""
  echo "-- fuzzing $name for ${seconds}s"
  # The work corpus comes first so new inputs go there, never into the committed seeds.
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 "$work" $seeds >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$work.log" || true
  fi
  rm -rf "$work" "$work.log"
done
exit $status
