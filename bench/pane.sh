#!/bin/sh
# Pane append cost as the pane fills, offscreen.
#   bench/pane.sh [lines, default 200000] [runs, default 3]   (BUILD=dir to build elsewhere)
set -eu
. "$(dirname "$0")/common.sh"
bench_build pane_bench
QT_QPA_PLATFORM=offscreen "$build/bin/pane_bench" "${1:-200000}" "${2:-3}"
