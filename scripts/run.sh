#!/usr/bin/env bash
# The main job: installs and builds only what it runs (the plug-in bundle with its looks and
# huebench; no tests, benchmarks or fuzz targets), then grades the built-in test chart
# through the bundle with the project's own OpenFX host, as an editing application would:
# pack "iPhone Apple Log", look 01, every other control at its default. The graded picture
# goes to out/chart-iphone-apple-log-01.png.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVD_BUILD_TESTS=OFF -DVD_BUILD_BENCH=OFF -DVD_BUILD_FUZZ=OFF
cmake --build build -j"$(nproc)" --target huebench
./build/cli/huebench grade build/VandrelHuebench.ofx.bundle
echo "Graded chart: $(pwd)/out/chart-iphone-apple-log-01.png"
