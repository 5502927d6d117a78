#!/usr/bin/env bash
# Builds the client and the benchmark program, then prints the performance
# table (Markdown). Takes about two minutes; measure on a quiet machine.
# Extra arguments go to the program, for example --only=micro,throughput or
# --screens=20000; Google Benchmark's own --benchmark_* options work too.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh" bench

build=${VELMO_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target velmo-bench VelmoScreen velmo-unit-emulator >/dev/null

exec "$build/bin/velmo-bench" "$@"
