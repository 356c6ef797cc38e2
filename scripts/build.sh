#!/bin/sh
# Configures and builds into build/ (or the directory given as $1).
set -eu
cd "$(dirname "$0")/.."
dir="${1:-build}"
shift 2>/dev/null || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j2
