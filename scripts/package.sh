#!/usr/bin/env bash
# Builds the Debian package of the client, velmoscreen_<version>_<arch>.deb, in
# a build folder of its own (build-package/ by default) and prints its path.
# Install it with: sudo apt install ./build-package/velmoscreen_*.deb
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh"

build=${VELMO_PACKAGE_BUILD_DIR:-$root/build-package}
# Only what the package needs: no tests, no benchmark.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DVELMO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)"
rm -f "$build"/velmoscreen_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/velmoscreen_*.deb
