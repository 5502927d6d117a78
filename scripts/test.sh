#!/usr/bin/env bash
# Installs what is needed, builds VelmoScreen with its tests, tools and
# benchmark program, and runs every test with CTest, the Debian package's
# among them. Extra arguments go to ctest (for example -R link).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh" test

build=${VELMO_BUILD_DIR:-$root/build}
# The benchmark program is built too, so that it keeps compiling.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"

cd "$build"
"$root/scripts/ctest.sh" --output-on-failure --parallel "$(nproc)" --timeout 600 "$@"
