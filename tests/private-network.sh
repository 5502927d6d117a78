#!/bin/sh
# Runs a command in a network namespace of its own, with only loopback in it,
# up. Root makes the namespace directly; anyone else may not, and makes it
# inside a user namespace of their own, where they count as root.
# Usage: tests/private-network.sh <command> [arguments...]
user_namespace=
[ "$(id -u)" -eq 0 ] || user_namespace=--map-root-user
exec unshare $user_namespace --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
