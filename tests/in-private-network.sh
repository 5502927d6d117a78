#!/bin/sh
# Runs a command in a network namespace of its own with only loopback up:
# whatever it listens on, connects to or changes in the firewall stays in
# there and goes away with it. A normal user may not make a network namespace
# directly, so it gets one inside a user namespace of its own, where it is
# root enough to set the namespace up.
# Usage: tests/in-private-network.sh <command> [args...]
if [ "$(id -u)" -eq 0 ]; then
    exec unshare -n sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec unshare -r -n sh -c 'ip link set lo up && exec "$@"' sh "$@"
