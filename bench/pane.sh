#!/bin/sh
# Pane append cost as the pane fills: bench/pane.sh [lines] [build-dir]
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${2:-$root/build-release}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target pane_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bin/pane_bench" "${1:-200000}"
