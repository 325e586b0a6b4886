#!/usr/bin/env bash
# A newcomer's first command: installs what is needed, builds the Linux programs and runs the
# demo, a whole job on eight simulated phones.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh demo
# Its own build folder without tests or benchmarks: the demo needs neither GoogleTest nor
# Google Benchmark.
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOLT_TESTS=OFF -DZOLT_BENCH=OFF >/dev/null
cmake --build build/demo -j 2 --target zolt zolt-phone
exec build/demo/zolt demo "$@"
