#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the normal build, then the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets for a bounded
# time, and the formatting check.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
jobs=$(nproc)

echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVD_BUILD_BENCH=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVD_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE no_sanitizer

if [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzz targets"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVD_BUILD_TESTS=OFF -DVD_BUILD_FUZZ=ON
  cmake --build build-fuzz -j"$jobs"
  ./fuzz/run.sh build-fuzz
fi
echo "== all tests passed"
