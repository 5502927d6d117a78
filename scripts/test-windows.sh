#!/usr/bin/env bash
# Tests the Windows build under Wine, on this Debian machine:
#  1. the link, screen and window tests, cross-built, run by ctest through
#     Wine (widget tests on the offscreen platform);
#  2. the Windows client from the zip's folder, end to end on Xvfb, through
#     the Linux suite's own tests (VELMO_TEST_CLIENT): window, pixels beside
#     the Linux client's, keys, reconnection, settings and host dialog; then
#     the screens again at 150 % display scaling;
#  3. velmo-drive.exe from the zip's folder running the example script
#     against the Linux emulator's demo unit;
#  4. the installer: silent install into a fresh Wine prefix, the installed
#     client connecting, refusing while it runs, an upgrade over edited
#     settings, the uninstaller; the same in another program's folder.
# Builds what it needs first (scripts/windows.sh and the Linux test programs).
# Arguments go to the first ctest run (for example -R link). Every ctest
# selection must match a test: a renamed test fails the run, not passes it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/scripts/windows.sh"
build=${VELMO_WINDOWS_BUILD_DIR:-$root/build-windows}
linux=${VELMO_BUILD_DIR:-$root/build}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
folder=$build/VelmoScreen-$version-win64
installer=$build/VelmoScreen-$version-setup.exe
qt=$("$root/scripts/windows-qt.sh" prefix)
# The build folder links the Qt it is given, not one it was configured with
# before (the cache folder's name changes with the Qt built).
if grep '^Qt[^:]*_DIR:' "$build/CMakeCache.txt" | grep -v ":PATH=$qt/"; then
    echo "test-windows: $build found the Qt packages above outside $qt" >&2
    exit 1
fi

# Wine's own noise off; no Mono or Gecko installer dialogs in new prefixes.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
prefixes=$build/wine
rm -rf "$prefixes"
mkdir -p "$prefixes"

# A Wine prefix of its own for each group of runs. Wine hands no QT_*
# variable of the Unix environment to a Windows program, so the toolkit's
# settings go into the prefix's registry, as a Windows user would set them.
# Wine makes sockets in its server process, which therefore must have been
# started where the program runs: every prefix is new, and the server is
# waited for before a prefix is used elsewhere.
new_prefix() {
    local name=$1 && shift
    if [[ ! -d $prefixes/base ]]; then
        WINEPREFIX=$prefixes/base wineboot -i >/dev/null 2>&1
        WINEPREFIX=$prefixes/base wineserver -w
    fi
    cp -a "$prefixes/base" "$prefixes/$name"
    while (($#)); do
        WINEPREFIX=$prefixes/$name wine reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null
        shift 4
    done
    WINEPREFIX=$prefixes/$name wineserver -w
    echo "$prefixes/$name"
}
stderr_logging=(HKCU\\Environment QT_FORCE_STDERR_LOGGING REG_SZ 1)
windows_path() { echo "Z:${1//\//\\}"; }

echo "== Windows tests under Wine"
# The toolkit's test DLL is not in the zip's folder; the rest is.
units=$(new_prefix units "${stderr_logging[@]}" 'HKCU\Environment' QT_QPA_PLATFORM REG_SZ offscreen)
WINEPREFIX=$units WINEPATH="$(windows_path "$qt/bin");$(windows_path "$folder")" \
    ctest --test-dir "$build" --no-tests=error --output-on-failure --parallel "$(nproc)" --timeout 600 "$@"
WINEPREFIX=$units wineserver -w

echo "== The Windows client end to end"
# Configured as scripts/test.sh configures it, so that a fresh checkout works
# and a folder test.sh made is reused as it is.
cmake -S "$root" -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_BUILD_BENCH=ON >/dev/null
cmake --build "$linux" --parallel "$(nproc)" \
    --target tst_e2e_screen tst_e2e_keys tst_e2e_reconnect tst_startup velmo-unit-emulator
client=$folder/VelmoScreen.exe
reference=$prefixes/linux-client.png
# The Linux client's grab of the screens that the Windows client must match,
# at Windows' 96 dpi.
QT_FONT_DPI=96 VELMO_SAVE_GRAB=$reference ctest --test-dir "$linux" --no-tests=error --output-on-failure -R '^e2e\.screen$'
e2e=$(new_prefix e2e "${stderr_logging[@]}")
WINEPREFIX=$e2e VELMO_TEST_CLIENT=$client VELMO_REFERENCE_GRAB=$reference \
    ctest --test-dir "$linux" --no-tests=error --output-on-failure -R '^e2e\.(screen|keys|reconnect)$'
WINEPREFIX=$e2e wineserver -w
# Each of these tests has a network namespace of its own, and so a prefix
# whose Wine server starts in it.
for test in app.startup.settings app.startup.dialog e2e.reconnect.keyinflight; do
    private=$(new_prefix "$test" "${stderr_logging[@]}")
    WINEPREFIX=$private VELMO_TEST_CLIENT=$client \
        ctest --test-dir "$linux" --no-tests=error --output-on-failure -R "^${test//./\\.}\$"
done

echo "== The Windows client at 150 % display scaling"
hidpi=$(new_prefix hidpi 'HKCU\Control Panel\Desktop' LogPixels REG_DWORD 144)
WINEPREFIX=$hidpi VELMO_TEST_SCREEN=1920x1080x24 VELMO_TEST_CLIENT=$client \
VELMO_REFERENCE_GRAB=$reference VELMO_REFERENCE_SCALE=1.5 \
    ctest --test-dir "$linux" --no-tests=error --output-on-failure -R '^e2e\.screen$'

echo "== velmo-drive.exe against the Linux emulator"
# The example script, from the zip's folder, walks the demo unit. Both run in
# a network namespace of its own, where the prefix's Wine server starts too;
# the pictures are drawn on the Windows platform, for which Wine needs an X
# display.
drive=$(new_prefix drive "${stderr_logging[@]}")
"$root/tests/private-network.sh" sh -c '"$1" --listen 127.0.0.202 2>/dev/null & unit=$!; sleep 1
    WINEPREFIX=$2 xvfb-run -a wine "$3" --unit 127.0.0.202 --captures "$4" "$5"; status=$?
    WINEPREFIX=$2 wineserver -k; kill $unit; exit $status' \
    sh "$linux/bin/velmo-unit-emulator" "$drive" "$folder/velmo-drive.exe" "$(windows_path "$prefixes/drive")" \
    "$(windows_path "$root/tools/drive/examples/demo-unit.txt")"

echo "== The installer"
fresh=$(new_prefix installer)
"$root/tests/package/windows-installer-test.sh" "$installer" "$fresh" "$linux/bin/velmo-unit-emulator"
