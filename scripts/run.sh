#!/bin/sh
# Installs what building and running kesmar needs, builds the program alone,
# and starts it with the sample test.txt.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j2 --target kesmar
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "no display found: kesmar runs on a virtual one (Xvfb), where nobody can"
    echo "press 送信; it accepts a client on port 20319 but sends nothing to it"
    exec xvfb-run -a build/bin/kesmar
fi
exec build/bin/kesmar
