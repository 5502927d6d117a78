#!/usr/bin/env bash
# The whole test suite built against Qt 6 (build-qt6), the way scripts/test.sh
# runs it on Qt 5. The Debian package is made from the Qt 5 build only, so its
# test is not part of this run. Extra arguments go to ctest (for example -R link).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh" test qt6

build=${VELMO_QT6_BUILD_DIR:-$root/build-qt6}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_QT_MAJOR=6 -DVELMO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"

cd "$build"
"$root/scripts/ctest.sh" --output-on-failure --parallel "$(nproc)" --timeout 600 "$@"
