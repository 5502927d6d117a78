#!/usr/bin/env bash
# Installs the Debian packages that VelmoScreen needs, and nothing more than
# asked for. Without arguments: what building the client (and its package) and
# running it need. Each argument adds a group for one kind of run:
#   test        the test suite (X tools, the Russian locale, the package test)
#   package     the package test alone (Debian's validators, Xvfb, xdotool)
#   virtual-display  Xvfb and xvfb-run, for the demo on a machine without a desktop
#   robustness  the sanitizer and fuzz runs (clang), on top of the test group
#   bench       the benchmark program, its profiler and bench/lossy-link.sh
#   qt6         building against Qt 6 instead of Qt 5 (scripts/test-qt6.sh)
#   windows     the Windows build and its tests: MinGW-w64, Wine, NSIS, and
#               then Qt for Windows, built from Debian's source package into a
#               cache folder (scripts/windows-qt.sh; once, then reused)
# Every script that runs such things calls this one with its groups, so each
# list is written once. Idempotent: packages already installed are skipped, and
# the package lists are refreshed at most once per run, only when something is
# missing.
set -euo pipefail

build_packages=(
    build-essential cmake file
    qtbase5-dev qtbase5-dev-tools qttranslations5-l10n
    fonts-dejavu-core
)
package_test_packages=(
    lintian desktop-file-utils appstream
    xvfb xdotool x11-utils util-linux iproute2
)
test_packages=(
    "${package_test_packages[@]}"
    x11-xkb-utils imagemagick locales procps nftables
    # The check that the screen font's supplement is the one its script makes.
    python3-fonttools
    # A Wayland session for the client: the compositor, XWayland, and the
    # toolkit's Wayland platform that a user may choose there.
    weston xwayland qtwayland5 wmctrl
    # The suite builds the benchmark program too, so that it keeps compiling.
    libbenchmark-dev libx11-dev libxtst-dev
)
# xvfb-run needs xauth, which Xvfb only recommends.
virtual_display_packages=(xvfb xauth)
robustness_packages=("${test_packages[@]}" clang libclang-rt-14-dev)
bench_packages=(xvfb xdotool libbenchmark-dev libx11-dev libxtst-dev valgrind nftables iproute2 util-linux procps)
# Qt 6's development packages bring its GL headers and platform plugins along.
qt6_packages=(qt6-base-dev qt6-base-dev-tools qt6-translations-l10n)
# Qt's configure runs on the build machine (perl, python3); the end-to-end
# runs under Wine use the test group's X tools.
windows_packages=(
    g++-mingw-w64-x86-64-posix wine wine64 nsis perl python3 dpkg-dev
    "${test_packages[@]}" "${virtual_display_packages[@]}"
)

wanted=("${build_packages[@]}")
russian_locale=false
build_windows_qt=false
for group in "$@"; do
    case $group in
        test) wanted+=("${test_packages[@]}"); russian_locale=true ;;
        package) wanted+=("${package_test_packages[@]}") ;;
        virtual-display) wanted+=("${virtual_display_packages[@]}") ;;
        robustness) wanted+=("${robustness_packages[@]}"); russian_locale=true ;;
        bench) wanted+=("${bench_packages[@]}") ;;
        qt6) wanted+=("${qt6_packages[@]}") ;;
        windows) wanted+=("${windows_packages[@]}"); russian_locale=true; build_windows_qt=true ;;
        *) echo "setup: unknown group '$group' (test, package, virtual-display, robustness, bench, qt6, windows)" >&2; exit 2 ;;
    esac
done

as_root=()
[[ $(id -u) -ne 0 ]] && as_root=(sudo)

missing=()
for p in "${wanted[@]}"; do
    [[ " ${missing[*]} " == *" $p "* ]] && continue
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    # env carries the setting through sudo, which would otherwise drop it.
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The start-up tests run the client under a Russian locale to check that the
# toolkit's own translations load; make sure that locale exists.
if $russian_locale && ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf8$'; then
    if [[ -f /etc/locale.gen ]]; then
        "${as_root[@]}" sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
        "${as_root[@]}" locale-gen >/dev/null
    fi
fi

if $build_windows_qt; then
    "$(dirname "${BASH_SOURCE[0]}")/windows-qt.sh"
fi
