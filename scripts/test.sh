#!/bin/sh
# Installs what is missing, builds everything, and runs every test headlessly.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/build.sh build -DBUILD_TESTING=ON
ctest --test-dir build --output-on-failure -j2
