#!/usr/bin/env bash
# The main job: builds the plug-in bundle and shows it as a host sees it, through the
# project's own OpenFX host.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
./build/cli/huebench describe build/VandrelHuebench.ofx.bundle
