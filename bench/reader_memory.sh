#!/bin/sh
# Peak memory of loading a large test.txt as the program does: a file of
# MB megabytes of "x,0,0,32,-1" lines (12 bytes of text for 4 packed), read
# from the page cache (it is read once before the timed load).
#   bench/reader_memory.sh [MB, default 2000]   (BUILD=dir to build elsewhere)
set -eu
. "$(dirname "$0")/common.sh"
bench_build reader_bench
mb="${1:-2000}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
yes 'x,0,0,32,-1' | head -c "$((mb * 1000000 / 12 * 12))" >"$work/test.txt"
cat "$work/test.txt" >/dev/null
"$build/bin/reader_bench" --load "$work/test.txt" | awk '{
    printf "file %.0f MB, packed %.0f MB, %.2f s, peak RSS %.0f MiB (%.2f x the packed bytes)\n",
           $1 / 1e6, $2 / 1e6, $3, $4, $4 * 1048576 / $2 }'
