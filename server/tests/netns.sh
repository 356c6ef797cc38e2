#!/bin/sh
# Runs a test that opens port 20319 in a network namespace of its own, with
# only a loopback interface, so that a kesmar already running on this machine
# (or another test run) cannot take the port from it: as root with
# "unshare -n", otherwise through a user namespace with "unshare -rn". Where
# the system allows neither, the test runs beside everything else if the
# port is free, and is skipped (status 77) if it is not.
#   netns.sh COMMAND [ARGS...]
set -eu
if [ "${1:-}" = --inside ]; then
    shift
    ip link set lo up
    # Tells a test that it may change this namespace's firewall.
    export KESMAR_PRIVATE_NETNS=1
    exec "$@"
fi

if command -v ip >/dev/null 2>&1; then
    for flags in -n -rn; do
        if unshare "$flags" true 2>/dev/null; then
            exec unshare "$flags" sh "$0" --inside "$@"
        fi
    done
    why="this system allows no private network namespace (unshare -n needs root, unshare -rn needs unprivileged user namespaces)"
else
    why="without the ip command (iproute2) the loopback interface of a private network namespace cannot be brought up"
fi

if command -v ss >/dev/null 2>&1 && [ -n "$(ss -Hltn 'sport = :20319')" ]; then
    echo "skipped: port 20319 is taken, most likely by a running kesmar, and $why"
    exit 77
fi
exec "$@"
