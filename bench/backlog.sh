#!/bin/sh
# Connects that succeed and are then reset unserved, in a storm of
# connections against the window's listener, or left silent when a few
# connect at the same moment; in a network namespace of its own, so that
# nothing else on port 20319 takes part.
#   bench/backlog.sh [connections, default 5000] [parallel, default 50] [hold_ms, default 10]
#   bench/backlog.sh race [rounds, default 200] [clients, default 3] [quiet_s, default 5]
#   (BUILD=dir to build elsewhere)
set -eu
. "$(dirname "$0")/common.sh"
bench_build backlog_bench
exec sh "$root/server/tests/netns.sh" "$build/bin/backlog_bench" "$@"
