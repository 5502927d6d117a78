#!/usr/bin/env bash
# Checks that the client, the emulator and the drive build with nothing but a C++17
# compiler, CMake and Qt: a build folder of its own (build-qt-only) configured
# as if Google Benchmark and X11 were not installed, without the tests.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMO_QT_ONLY_BUILD_DIR:-$root/build-qt-only}

"$root/scripts/setup.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_X11=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
cmake --build "$build" --parallel "$(nproc)" --target VelmoScreen velmo-unit-emulator velmo-drive
echo "qt-only-build: VelmoScreen, velmo-unit-emulator and velmo-drive built with Qt alone"
