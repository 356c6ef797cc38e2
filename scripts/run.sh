#!/bin/sh
# Installs what is missing, builds, and starts kesmar with the sample test.txt.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "no display found: running kesmar under Xvfb; it still serves clients on port 20319"
    exec xvfb-run -a build/bin/kesmar
fi
exec build/bin/kesmar
