#!/bin/sh
# Ten minutes at 10 ms with dumps and events on, a reading and a flooding
# client in turn: bench/server/soak.sh [seconds, default 600]
set -eu
. "$(dirname "$0")/common.sh"
$drive soak "$bin" "${1:-600}"
