#!/bin/sh
# Installs what is missing, builds, and runs every test headlessly.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
ctest --test-dir build --output-on-failure -j2
