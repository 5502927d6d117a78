#!/usr/bin/env bash
# The Debian package, as a user gets it:
#  1. built with CPack from a configured and built build folder, under umask
#     077, as on a machine that keeps its files private;
#  2. its contents, their modes and its control fields checked against the
#     layout below, then lintian (no error, no warning), desktop-file-validate,
#     the desktop entry's menu category and appstreamcli validate;
#  3. installed for real, as root, in private namespaces: overlays over /usr,
#     /etc and /var whose upper layers live in a private tmpfs, a network
#     with only loopback, a process tree that dies as a whole. There the build
#     folder is first installed with `cmake --install --prefix` into a folder,
#     and with DESTDIR into another, each of which must write nothing outside
#     it and keep an edited settings file when installed again; then the
#     package is installed with
#     dpkg, the client is started by its desktop entry's command under Xvfb,
#     once with a unit address in the settings and once as shipped, and the
#     package is purged.
# Nothing of this reaches the machine: the mounts vanish with the namespace,
# also when a check fails half-way.
#
# Usage: package-test.sh BUILD_DIR WORK_DIR EMULATOR
# Exit status 77 (skipped) when not root: the install steps need the namespaces.
set -euo pipefail
project=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

unit_address=127.0.0.120
display=:180
main_title='^Экран ВЕЛМО-КС v[0-9]'
dialog_title='^Выберите устройство$'
patience=20

# What the package holds besides folders: path, and target for a link.
expected_contents=(
    "/etc/velmoscreen/VelmoScreen.ini"
    "/usr/bin/velmoscreen -> ../lib/velmoscreen/VelmoScreen"
    "/usr/lib/velmoscreen/VelmoScreen"
    "/usr/lib/velmoscreen/VelmoScreen.ini -> /etc/velmoscreen/VelmoScreen.ini"
    "/usr/bin/velmo-drive"
    "/usr/share/applications/org.velmoscreen.VelmoScreen.desktop"
    "/usr/share/doc/velmoscreen/changelog.gz"
    "/usr/share/doc/velmoscreen/copyright"
    "/usr/share/doc/velmoscreen/examples/demo-unit.txt"
    "/usr/share/icons/hicolor/scalable/apps/org.velmoscreen.VelmoScreen.svg"
    "/usr/share/man/man1/velmo-drive.1.gz"
    "/usr/share/man/man1/velmoscreen.1.gz"
    "/usr/share/metainfo/org.velmoscreen.VelmoScreen.metainfo.xml"
)
client=/usr/lib/velmoscreen/VelmoScreen
drive=/usr/bin/velmo-drive
drive_example=/usr/share/doc/velmoscreen/examples/demo-unit.txt
desktop_entry=/usr/share/applications/org.velmoscreen.VelmoScreen.desktop
# The freedesktop.org menu's main categories: the entry must name one to be
# filed anywhere but "Other".
main_categories=(AudioVideo Audio Video Development Education Game Graphics Network Office Science
                 Settings System Utility)
metainfo=/usr/share/metainfo/org.velmoscreen.VelmoScreen.metainfo.xml
settings=/etc/velmoscreen/VelmoScreen.ini

# Installs of the build folder, one a line: DESTDIR (none if empty) | prefix.
# /usr/local is no system prefix: its settings stay under it.
prefix_installs=(
    "|/tmp/prefix"
    "/tmp/staging|/usr/local"
)

# Start-up cases, one a line: name | settings written before the start ("-":
# as shipped) | window that must appear | key typed there | line the unit must
# receive ("-": the client must end without connecting).
start_cases=(
    "unit address set|[connection]\nremoteIp=$unit_address\n|$main_title|s|KBD:8x20"
    "as shipped|-|$dialog_title|Escape|-"
)

fail() {
    echo "package-test: FAIL: $*" >&2
    exit 1
}

step() { echo "package-test: $*"; }

require_tools() {
    local tool missing=()
    for tool in "$@"; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    ((${#missing[@]} == 0)) || fail "missing ${missing[*]}: scripts/setup.sh package installs them"
}

# Non-folder entries of the package as "path" or "path -> target".
package_contents() {
    dpkg-deb --fsys-tarfile "$1" | tar -tvf - |
        awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +\./, ""); print }' | sort
}

# Non-folder entries of an installed tree as "path" or "path -> target".
tree_contents() {
    find "$1" -type l -printf '%p -> %l\n' -o ! -type d -printf '%p\n' | sort
}

# Every folder 0755, every file 0644 but the programs 0755 (wherever the prefix
# put it), whatever the umask they were made under. Reads "mode path" lines.
check_modes() {
    local what=$1 mode path expected wrong=()
    while read -r mode path; do
        case $mode in
            d*) expected=drwxr-xr-x ;;
            l*) expected=lrwxrwxrwx ;;
            *) [[ $path == */"${client#/usr/}" || $path == */"${drive#/usr/}" ]] && expected=-rwxr-xr-x ||
                expected=-rw-r--r-- ;;
        esac
        [[ $mode == "$expected" ]] || wrong+=("$mode $path (not $expected)")
    done
    ((${#wrong[@]} == 0)) || fail "modes in $what:"$'\n'"$(printf '  %s\n' "${wrong[@]}")"
}

build_package() {
    local build=$1 out=$2
    rm -rf "$out" && mkdir -p "$out"
    (umask 077 && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out") >"$out/cpack.log" 2>&1 ||
        { cat "$out/cpack.log" >&2; fail "cpack could not build the package"; }
    local debs=("$out"/*.deb)
    ((${#debs[@]} == 1)) && [[ -f ${debs[0]} ]] || fail "cpack made ${#debs[@]} packages: ${debs[*]}"
    deb=${debs[0]}
}

check_control() {
    local field
    for field in Package Version Architecture; do
        declare -g "control_$field=$(dpkg-deb -f "$deb" "$field")"
    done
    [[ $(basename "$deb") == "velmoscreen_${control_Version}_${control_Architecture}.deb" ]] ||
        fail "file name $(basename "$deb") is not velmoscreen_<version>_<arch>.deb"
    [[ $control_Package == velmoscreen ]] || fail "package name $control_Package"
    local depends recommends
    depends=$(dpkg-deb -f "$deb" Depends)
    recommends=$(dpkg-deb -f "$deb" Recommends)
    step "Depends: $depends"
    step "Recommends: $recommends"
    # Found by dpkg-shlibdeps: shared libraries only, the toolkit's among them.
    [[ $depends == *libqt5widgets5* ]] || fail "Depends lacks the toolkit's libraries"
    local dependency
    while read -r dependency; do
        [[ $dependency =~ ^lib[a-z0-9.+-]+( \(.*\))?$ ]] || fail "unexpected dependency '$dependency'"
    done < <(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/ *$//')
    [[ $recommends == qttranslations5-l10n ]] || fail "Recommends is '$recommends'"
    [[ $(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles) == "$settings" ]] ||
        fail "the conffiles list is not just $settings"
}

check_contents() {
    local actual expected
    actual=$(package_contents "$deb")
    expected=$(printf '%s\n' "${expected_contents[@]}" | sort)
    [[ $actual == "$expected" ]] ||
        fail "package contents differ from the layout:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"
    dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); print $1, $6 }' | check_modes "the package"
}

# Each place that names the release must name the package's version.
check_versions() {
    local root=$1 changelog_version release_version
    changelog_version=$(gzip -dc "$root/usr/share/doc/velmoscreen/changelog.gz" | dpkg-parsechangelog -l - -S Version)
    release_version=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$root$metainfo" | head -n 1)
    [[ $changelog_version == "$control_Version" ]] ||
        fail "changelog names version $changelog_version, the package $control_Version"
    [[ $release_version == "$control_Version" ]] ||
        fail "AppStream metadata names release $release_version, the package $control_Version"
}

validate() {
    local root=$1
    step "lintian:"
    lintian --fail-on error,warning --display-info "$deb" || fail "lintian found errors or warnings"
    step "desktop-file-validate:"
    desktop-file-validate "$root$desktop_entry" || fail "desktop-file-validate"
    local categories
    categories=$(sed -n 's/^Categories=//p' "$root$desktop_entry")
    [[ ";$categories" =~ \;($(IFS='|'; echo "${main_categories[*]}"))\; ]] ||
        fail "the desktop entry names no main menu category (Categories=$categories)"
    step "appstreamcli validate --no-net:"
    appstreamcli validate --no-net "$root$metainfo" || fail "appstreamcli validate"
}

# ---- Inside the private namespaces (see the end of the file) --------------

background_pids=()
stop_background() {
    local pid
    for pid in "${background_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}

# The upper layers and /tmp live in a tmpfs of the namespace, mounted first
# inside the work folder and then moved to /tmp, so that the package and the
# emulator copied into it stay reachable wherever the build folder is. The
# caller's folders given, which `cmake --install` reads and writes, are bound
# there too and back at their own places afterwards: a checkout under /tmp
# stays in sight, and what installing writes into a build folder under /var
# is no write of the installation for the overlay to catch.
private_system() {
    local private=$work/private folder
    mount -t tmpfs -o mode=1777 tmpfs "$private"
    cp "$deb" "$emulator" "$private/"
    for folder; do
        mkdir -p "$private/caller$folder" && mount --bind "$folder" "$private/caller$folder"
    done
    mount --move "$private" /tmp
    deb=/tmp/$(basename "$deb") emulator=/tmp/$(basename "$emulator")
    local dir
    for dir in usr etc var; do
        mkdir -p "/tmp/overlay/$dir/upper" "/tmp/overlay/$dir/work"
        mount -t overlay overlay \
            -o "lowerdir=/$dir,upperdir=/tmp/overlay/$dir/upper,workdir=/tmp/overlay/$dir/work" "/$dir"
    done
    for folder; do
        mkdir -p "$folder" && mount --bind "/tmp/caller$folder" "$folder"
    done
    ip link set lo up
    mkdir -m 1777 /tmp/.X11-unix
    mkdir -m 0700 /tmp/home /tmp/runtime
    export HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/runtime DISPLAY=$display LANG=C.UTF-8
    export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    # The client must draw on Xvfb, whatever platform the caller's
    # environment asks for (offscreen in a headless test run).
    export QT_QPA_PLATFORM=xcb
    unset WAYLAND_DISPLAY XDG_CACHE_HOME XDG_CONFIG_HOME LC_ALL
}

# Under umask 002, a group-writable default.
prefix_install() {
    local destdir=$1 prefix=$2
    (umask 002 && DESTDIR=$destdir cmake --install "$build" --prefix "$prefix") >/tmp/install.log 2>&1 ||
        { cat /tmp/install.log >&2; fail "cmake --install failed"; }
}

# Installing the build folder into a folder of its own (DESTDIR, or else the
# prefix) writes there alone: the overlays' upper layers catch any write to
# /usr, /etc or /var, and the link beside the client names the settings file
# installed with it. The modes are still those of the package. Installing
# again, as an update does, keeps the settings an administrator edited.
prefix_install_test() {
    local destdir=$1 prefix=$2
    step "${destdir:+DESTDIR=$destdir }cmake --install --prefix $prefix"
    prefix_install "$destdir" "$prefix"
    local dir changed=()
    for dir in usr etc var; do
        changed+=($(cd "/tmp/overlay/$dir/upper" && find . -mindepth 1 | sed "s|^\.|/$dir|"))
    done
    ((${#changed[@]} == 0)) || fail "installing into $destdir$prefix changed ${changed[*]}"
    local actual expected
    actual=$(tree_contents "${destdir:-$prefix}")
    expected=$(printf '%s\n' "${expected_contents[@]}" |
        sed "s|/usr/|$prefix/|; s|/etc/|$prefix/etc/|g; s|^|$destdir|" | sort)
    [[ $actual == "$expected" ]] ||
        fail "installed with a prefix, contents differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"
    find "${destdir:-$prefix}" -printf '%M %p\n' | check_modes "the folder installed to"
    local edited="remoteIp=$unit_address"
    echo "$edited" >>"$destdir$prefix$settings"
    prefix_install "$destdir" "$prefix"
    grep -qx "$edited" "$destdir$prefix$settings" || fail "installing again replaced the edited $destdir$prefix$settings"
}

start_display() {
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset 2>/tmp/xvfb.log &
    background_pids+=($!)
    local tries
    for ((tries = 0; tries < patience * 5; ++tries)); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    cat /tmp/xvfb.log >&2
    fail "Xvfb did not come up on $display"
}

find_window() {
    LC_ALL=C.UTF-8 xdotool search --all --onlyvisible --name "$1" 2>/dev/null | head -n 1
}

wait_for() {
    local tries
    for ((tries = 0; tries < patience * 5; ++tries)); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}

window_shown() { [[ -n $(find_window "$1") ]]; }
client_running() { kill -0 "$client_pid" 2>/dev/null; }
unit_received() { grep -qx -- "$1" /tmp/unit.out; }

# The desktop entry's Exec line, without field codes (the client takes no
# arguments, so the entry has none today).
desktop_command() {
    local line
    line=$(sed -n 's/^Exec=//p' "$desktop_entry" | head -n 1)
    [[ -n $line ]] || fail "no Exec line in $desktop_entry"
    read -ra desktop_exec <<<"${line//%[a-zA-Z]/}"
}

run_start_case() {
    local name=$1 contents=$2 title=$3 key=$4 received=$5
    step "start-up, $name"
    if [[ $contents == - ]]; then
        cp /tmp/shipped-settings "$settings"
    else
        printf '%b' "$contents" >"$settings"
    fi
    "$emulator" --listen "$unit_address" >/tmp/unit.out 2>/tmp/unit.err &
    local unit_pid=$!
    background_pids+=("$unit_pid")
    wait_for grep -q '^listening on' /tmp/unit.err || fail "the unit emulator did not start"

    (cd /tmp/home && exec "${desktop_exec[@]}") >/tmp/client.log 2>&1 &
    client_pid=$!
    background_pids+=("$client_pid")
    wait_for window_shown "$title" || { cat /tmp/client.log >&2; fail "$name: no window '$title'"; }
    [[ $(readlink "/proc/$client_pid/exe") == "$client" ]] ||
        fail "$name: the desktop entry started $(readlink "/proc/$client_pid/exe")"

    local window
    window=$(find_window "$title")
    xdotool windowfocus --sync "$window" && xdotool key "$key" || fail "$name: could not type $key"
    if [[ $received == - ]]; then
        wait_for eval '! client_running' || fail "$name: the client did not end"
        wait "$client_pid" || fail "$name: the client ended with status $?"
        ! window_shown "$main_title" || fail "$name: the main window was shown"
        ! grep -q connected /tmp/unit.err || fail "$name: the client connected to the unit"
    else
        wait_for unit_received "$received" || { cat /tmp/client.log >&2; fail "$name: the unit did not receive $received"; }
        kill "$client_pid"
        wait "$client_pid" || true
    fi
    kill "$unit_pid"
    wait "$unit_pid" || true
}

install_test() {
    trap stop_background EXIT
    # The build folder is used through a path under /tmp, as a checkout there
    # has it (on a tmpfs of the namespace where it is elsewhere): the private
    # /tmp must keep it in sight.
    local folders=("$project" "$build")
    if [[ $project/ != /tmp/* && $build/ != /tmp/* ]]; then
        mount -t tmpfs tmpfs /tmp && mkdir /tmp/build && mount --bind "$build" /tmp/build
        build=/tmp/build folders+=(/tmp/build)
    fi
    private_system "${folders[@]}"
    local install
    for install in "${prefix_installs[@]}"; do
        prefix_install_test "${install%%|*}" "${install#*|}"
    done
    local -a existed=()
    local entry path
    while read -r entry; do
        path=${entry%% -> *}
        while [[ $path != / ]]; do
            [[ -e $path || -L $path ]] && existed+=("$path")
            path=$(dirname "$path")
        done
    done < <(package_contents "$deb")

    step "dpkg -i $(basename "$deb")"
    dpkg -i "$deb" >/tmp/dpkg.log 2>&1 || {
        cat /tmp/dpkg.log >&2
        fail "dpkg -i failed (a dependency missing? scripts/setup.sh installs them)"
    }
    cp "$settings" /tmp/shipped-settings
    ! grep -q '^ *remoteIp' "$settings" || fail "the shipped settings name a unit"

    start_display
    desktop_command
    local case name contents title key received
    for case in "${start_cases[@]}"; do
        IFS='|' read -r name contents title key received <<<"$case"
        run_start_case "$name" "$contents" "$title" "$key" "$received"
    done

    run_drive_example

    step "dpkg --purge velmoscreen"
    local installed
    installed=$(dpkg-query -L velmoscreen | grep -vx '/\.')
    dpkg --purge velmoscreen >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log >&2; fail "dpkg --purge failed"; }
    local left=()
    while read -r path; do
        [[ -e $path || -L $path ]] || continue
        [[ " ${existed[*]} " == *" $path "* ]] || left+=("$path")
    done <<<"$installed"
    ((${#left[@]} == 0)) || fail "left behind after purge: ${left[*]}"
    ! dpkg-query -W velmoscreen >/dev/null 2>&1 || fail "dpkg still knows the package after purge"
}

# The installed drive walks the demo unit with the installed example, drawing
# its pictures without a display.
run_drive_example() {
    step "velmo-drive, the example against the demo unit"
    "$emulator" --listen "$unit_address" >/tmp/unit.out 2>/tmp/unit.err &
    local unit_pid=$!
    background_pids+=("$unit_pid")
    wait_for grep -q '^listening on' /tmp/unit.err || fail "the unit emulator did not start"
    local status=0
    (cd /tmp/home && exec env -u DISPLAY -u QT_QPA_PLATFORM "$drive" --unit "$unit_address" "$drive_example") >/tmp/drive.log 2>&1 ||
        status=$?
    ((status == 0)) || { cat /tmp/drive.log >&2; fail "velmo-drive ended with status $status"; }
    grep -qx "1 passed, 0 failed" /tmp/drive.log || { cat /tmp/drive.log >&2; fail "velmo-drive: no summary"; }
    kill "$unit_pid"
}

# ---- Main -----------------------------------------------------------------

if [[ ${1:-} == --inside ]]; then
    work=$2 deb=$3 emulator=$4 build=$5
    # The overlays and dpkg belong in the namespaces made below, never on the
    # machine itself: a process that is not pid 1 of its own namespace, or that
    # sees any network interface but loopback, was not started that way.
    if [[ $$ -ne 1 ]] || ip -o link show | grep -qv ': lo:'; then
        echo "package-test: --inside runs only in the private namespaces it makes itself" >&2
        exit 2
    fi
    install_test
    exit 0
fi

(($# == 3)) || { echo "usage: $0 BUILD_DIR WORK_DIR EMULATOR" >&2; exit 2; }
build=$1 work=$2 emulator=$3
"$project/scripts/setup.sh" package
require_tools cpack dpkg-deb dpkg-parsechangelog lintian desktop-file-validate appstreamcli

step "building the package"
build_package "$build" "$work"
step "$(basename "$deb"), $(stat -c %s "$deb") bytes"
check_control
check_contents
rm -rf "$work/root"
dpkg-deb -x "$deb" "$work/root"
check_versions "$work/root"
validate "$work/root"

if [[ $(id -u) -ne 0 ]]; then
    step "SKIP: installing the package needs root, for the private mount namespace"
    exit 77
fi
require_tools unshare ip Xvfb xdpyinfo xdotool
# A new mount, network and process namespace: when this script's child ends,
# for whatever reason, every process in it ends too and its mounts go away.
mkdir -p "$work/private"
unshare --mount --net --pid --fork --kill-child --mount-proc --propagation private \
    "$0" --inside "$work" "$deb" "$emulator" "$build"
step "passed"
