#!/usr/bin/env bash
# The demo: installs what is needed, builds the client and the unit emulator,
# starts the emulator on 127.0.0.1 and the client pointed at it. Closing the
# window (or Ctrl-C) ends both. Arguments go to the emulator, for example
#   ./scripts/run.sh --script my-screens.txt
# The key lines that the client sends are printed here as they arrive. Without
# a display the client runs on a virtual one.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Without a desktop (an SSH session, a server) the window goes to a virtual
# display of its own, which the set-up installs.
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    "$root/scripts/setup.sh" virtual-display
    echo "run.sh: no display (DISPLAY is not set): the client runs on a virtual one (Xvfb)" >&2
    exec xvfb-run -a "$0" "$@"
fi

"$root/scripts/setup.sh"

build=${VELMO_BUILD_DIR:-$root/build}
# The demo needs no benchmark program, nor its libraries.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target VelmoScreen velmo-unit-emulator

client="$build/bin/VelmoScreen"
settings="$build/bin/VelmoScreen.ini"
saved_settings=
emulator_pid=
client_pid=

cleanup() {
    trap - EXIT INT TERM
    [[ -n $client_pid ]] && kill "$client_pid" 2>/dev/null || true
    [[ -n $emulator_pid ]] && kill "$emulator_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    if [[ -n $saved_settings ]]; then
        mv -f "$saved_settings" "$settings"
    else
        rm -f "$settings"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The client finds its unit in the settings beside it; any settings already
# there are put back when the demo ends.
if [[ -e $settings ]]; then
    saved_settings=$(mktemp "$build/bin/VelmoScreen.ini.XXXXXX")
    cp -p "$settings" "$saved_settings"
fi
printf '[connection]\nremoteIp=127.0.0.1\n' >"$settings"

"$build/bin/velmo-unit-emulator" --listen 127.0.0.1 "$@" &
emulator_pid=$!
# The emulator fails at once when the port is taken or an option is wrong.
sleep 0.5
if ! kill -0 "$emulator_pid" 2>/dev/null; then
    emulator_pid=
    echo "run.sh: the emulator did not start (see its message above)" >&2
    exit 1
fi

"$client" &
client_pid=$!
wait "$client_pid" || true
client_pid=
