#!/usr/bin/env bash
# Installs what is needed, builds VelmoScreen with its tests and tools, and runs
# every test with CTest. Extra arguments go to ctest (for example -R link).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh"

build=${VELMO_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)"

cd "$build"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600 "$@"
