#!/bin/sh
# Throughput at period 10 ms: bench/server/throughput.sh [seconds, default 10]
set -eu
. "$(dirname "$0")/common.sh"
s="${1:-10}"
printf '%9s %9s %9s %9s %8s %8s %8s\n' block client "MB/s" "blocks/s" "p50 ms" "p99 ms" "max ms"
for b in 65536 1048576 4194304; do
    for c in plain quickack; do
        $drive throughput "$bin" $b "$s" $c
        sleep 1
    done
done
$drive socat 2147483648
