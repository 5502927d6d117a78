#!/usr/bin/env bash
# Builds the Windows deliverables on Debian: the client, the emulator and the
# Windows test programs cross-built with MinGW-w64 into build-windows/, and
# there the portable zip and the installer:
#   build-windows/VelmoScreen-<version>-win64.zip
#   build-windows/VelmoScreen-<version>-setup.exe
# The first run installs the cross compiler, Wine and NSIS and builds Qt for
# Windows (scripts/setup.sh windows); later runs reuse that Qt.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/setup.sh" windows

build=${VELMO_WINDOWS_BUILD_DIR:-$root/build-windows}
qt=$("$root/scripts/windows-qt.sh" prefix)
# Qt's packages are looked for anew each time (-U): their folders, cached at
# the first run, would otherwise win over a changed CMAKE_PREFIX_PATH, and an
# old Qt would be linked and shipped.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -U 'Qt*_DIR' \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_PREFIX_PATH="$qt" >/dev/null
cmake --build "$build" --parallel "$(nproc)"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=VelmoScreen-$version-win64
folder=$build/$name
rm -rf "$folder"
cmake --install "$build" --prefix "$folder" --strip >/dev/null

zip=$build/$name.zip
rm -f "$zip"
(cd "$build" && cmake -E tar cf "$zip" --format=zip "$name")

# What the installer puts in place, and so what it and the next installer
# or the uninstaller may remove: every file of the folder but the settings,
# which an upgrade keeps.
files=$build/installer-files.nsh
(cd "$folder" && find . -type f ! -path ./VelmoScreen.ini | sed 's|^\./||' | LC_ALL=C sort) |
    while read -r path; do
        dir=$(dirname "$path") && [[ $dir != . ]] || dir=
        printf '!insertmacro ProgramFile "%s" "%s"\n' "${dir//\//\\}" "${path//\//\\}"
    done >"$files"
installer=$build/VelmoScreen-$version-setup.exe
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$folder" -DFILES="$files" \
    -DOUTFILE="$installer" "$root/packaging/windows/VelmoScreen.nsi"

echo "windows: $zip ($(du -k "$zip" | cut -f1) KiB)"
echo "windows: $installer ($(du -k "$installer" | cut -f1) KiB)"
