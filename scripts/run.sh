#!/bin/sh
# Installs what building and running kesmar needs, builds the program alone,
# and starts it with the sample test.txt.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j2 --target kesmar kesmarctl
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    # A D-Bus session of its own, whose accessibility bus is where kesmarctl
    # finds kesmar; D-Bus starts that bus when kesmarctl first asks for it.
    exec dbus-run-session -- sh -c '
        echo "no display found: kesmar runs on a virtual one (Xvfb). Drive it from another"
        echo "shell, in this directory (build/bin/kesmarctl --help lists the commands):"
        echo "  export DBUS_SESSION_BUS_ADDRESS=\"$DBUS_SESSION_BUS_ADDRESS\""
        echo "  build/bin/kesmarctl wait && build/bin/kesmarctl send on"
        exec xvfb-run -a build/bin/kesmar'
fi
exec build/bin/kesmar
