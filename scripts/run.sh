#!/usr/bin/env bash
# The main job: builds the plug-in bundle with its looks, then grades the built-in test chart
# through the bundle with the project's own OpenFX host, as an editing application would:
# pack "iPhone Apple Log", look 01, every other control at its default. The graded picture
# goes to out/chart-apple-log-01.png.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
./build/cli/huebench grade build/VandrelHuebench.ofx.bundle
echo "Graded chart: $(pwd)/out/chart-apple-log-01.png"
