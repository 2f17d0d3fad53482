#!/usr/bin/env bash
# Builds everything into build/ (release with debug info); the programs land in build/bin/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_BUILD_BENCH=ON
cmake --build "$top/build" -j "$(nproc)"
