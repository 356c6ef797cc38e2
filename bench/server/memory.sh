#!/bin/sh
# Peak memory with a client that never reads, and with one that floods:
#   bench/server/memory.sh [idle seconds, default 60] [flood seconds, default 30]
set -eu
. "$(dirname "$0")/common.sh"
$drive memory "$bin" idle "${1:-60}"
$drive memory "$bin" flood "${2:-30}"
