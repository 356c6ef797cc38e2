#!/bin/sh
# kesmar in a client's test, headless: starts kesmar on a virtual display in
# a D-Bus session of its own, sets the period to 10 ms and switches sending
# on with kesmarctl, runs the sample client (put yours in its place), prints
# kesmar's event log and quits kesmar. Exits non-zero when any step fails.
#   headless.sh
# Needs kesmar and kesmarctl (the kesmar package), xvfb, xauth, dbus and
# at-spi2-core, and python3 for the sample client. KESMAR and KESMARCTL may
# name other binaries, a build tree's for instance.
set -eu
kesmar="${KESMAR:-kesmar}"
kesmarctl="${KESMARCTL:-kesmarctl}"
here="$(cd "$(dirname "$0")" && pwd)"

# kesmar and kesmarctl meet on the session's accessibility bus, which D-Bus
# starts when kesmarctl first asks for it.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    exec dbus-run-session -- sh "$0" "$@"
fi

xvfb-run -a "$kesmar" &
server=$!
trap '"$kesmarctl" quit 2>/dev/null || kill "$server" 2>/dev/null || true' EXIT

"$kesmarctl" wait 30
"$kesmarctl" period 10
"$kesmarctl" send on
# The pattern is the test.txt beside the real program.
python3 "$here/sample_client.py" "$(dirname "$(readlink -f "$(command -v "$kesmar")")")/test.txt" 10
"$kesmarctl" log | grep -q '^Accept requestID = ' || { echo "no Accept line in the log" >&2; exit 1; }
"$kesmarctl" log | tail -n 3

trap - EXIT
"$kesmarctl" quit
wait "$server"
