#!/usr/bin/env bash
# Builds every test with address and undefined-behaviour sanitizers into build-test/ and runs them all;
# also compiles the optimised build and the benchmarks (never run here).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
# The optimised build (the one scripts/run.sh makes) is compiled too: g++ warns differently at -O2.
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_BUILD_BENCH=ON
cmake --build "$top/build" -j "$(nproc)"
cmake -S "$top" -B "$top/build-test" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_BUILD_BENCH=OFF
cmake --build "$top/build-test" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$top/build-test"
# Bus tests need a private session bus; everything runs inside one.
exec dbus-run-session -- ctest --output-on-failure -j "$(nproc)" --timeout 300
