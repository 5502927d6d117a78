#!/usr/bin/env bash
# Installs what is needed, builds VelmoScreen and runs it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh"

build=${VELMO_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target VelmoScreen

exec "$build/bin/VelmoScreen" "$@"
