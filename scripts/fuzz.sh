#!/usr/bin/env bash
# Long fuzzing: builds the fuzz targets, runs each for the given time from its committed
# corpus, then merges whatever new coverage it found back into fuzz/corpus/<target>.
# Prints each target's executions, speed, coverage and crashes.
#
# Usage: scripts/fuzz.sh [--minutes N | --runs R] [--jobs J] [TARGET...]
#   --minutes N  time per target (default 10)
#   --runs R     executions per target instead of a time, however long they take
#   --jobs J     targets fuzzed at the same time (default: the number of cores)
#   TARGET       cube, json, lookfile ... (default: every target)
# A crash leaves its input under build-fuzz/crashes/<target>/ and makes the script exit 1.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=10
runs=""
jobs=$(nproc)
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) minutes=${2:?}; shift 2 ;;
    --runs) runs=${2:?}; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVD_BUILD_TESTS=OFF -DVD_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz/all >/dev/null
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$build"/fuzz/*_fuzz; do targets+=("$(basename "$t" _fuzz)"); done
fi

fuzz_one() {
  local name=$1 bin="$build/fuzz/${1}_fuzz" corpus="fuzz/corpus/$1"
  local work="$build/work/$name" crashes="$build/crashes/$name" log="$build/logs/$name.log"
  mkdir -p "$work" "$crashes" "$(dirname "$log")" "$corpus"
  local rc=0
  local limit="-max_total_time=$((minutes * 60))"
  [ -z "$runs" ] || limit="-runs=$runs"
  "$bin" "$limit" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$crashes/" "$work" "$corpus" >"$log" 2>&1 || rc=$?
  # Keep only inputs that add coverage to the committed corpus.
  "$bin" -merge=1 "$corpus" "$work" >>"$log" 2>&1 || true
  # The fuzzer's final statistics; "?" where a run ended before printing them.
  stat() { awk -v k="stat::$1:" '$1 == k {v = $2} END {print (v == "" ? "?" : v)}' "$log"; }
  local execs rate cov
  execs=$(stat number_of_executed_units)
  rate=$(stat average_exec_per_sec)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n1 || true)
  printf '%-10s executions %-12s exec/s %-8s %s  crashes %s  corpus %s files\n' "$name" \
    "$execs" "$rate" "${cov:-?}" "$(find "$crashes" -type f | wc -l)" \
    "$(find "$corpus" -type f | wc -l)"
  return $rc
}

status=0
pids=()
for name in "${targets[@]}"; do
  fuzz_one "$name" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
exit $status
