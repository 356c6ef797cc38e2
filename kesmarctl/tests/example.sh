#!/bin/sh
# Runs one of the examples in examples/ as a client developer would, with
# this build's kesmar and kesmarctl, in a runtime directory of its own: the
# accessibility bus puts its socket there, and tests that run side by side
# must not meet on one.
#   example.sh KESMAR_BINARY KESMARCTL_BINARY COMMAND...
set -eu
KESMAR="$1"
KESMARCTL="$2"
shift 2
for tool in xvfb-run xauth dbus-daemon dbus-run-session python3 "$1"; do
    command -v "$tool" >/dev/null 2>&1 || {
        echo "skipped: $tool is not installed"
        exit 77
    }
done
XDG_RUNTIME_DIR="$(mktemp -d)"
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
# The examples write nothing into the source tree.
PYTHONDONTWRITEBYTECODE=1
export KESMAR KESMARCTL XDG_RUNTIME_DIR PYTHONDONTWRITEBYTECODE
unset DBUS_SESSION_BUS_ADDRESS
"$@"
