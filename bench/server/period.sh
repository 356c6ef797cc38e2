#!/bin/sh
# Period accuracy seen by a client: bench/server/period.sh [seconds, default 30]
set -eu
. "$(dirname "$0")/common.sh"
s="${1:-30}"
$drive header
for p in 10 100; do
    $drive period "$bin" $p "$s"
    $drive baseline $p "$s"
done
