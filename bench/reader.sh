#!/bin/sh
# Reader throughput: readPattern against Python's csv on the same file.
#   bench/reader.sh [build-dir]
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-release}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target reader_bench >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$root/bench/gen_pattern.py" 1000000 "$work/test.txt"

printf '%-9s %8s %9s %11s %9s %11s %8s\n' records MB "MB/s" "records/s" "py MB/s" "py rec/s" "vs py"
prev=""
for n in 100000 1000000; do
    set -- $("$build/bin/reader_bench" "$work/test.txt" $n 7)
    mb=$(echo "$2" | awk '{ printf "%.1f", $1 / 1e6 }')
    best=$4
    py=$(python3 "$root/bench/py_reader.py" "$work/test.txt" $n 2 | awk '{ print $2 }')
    awk -v n=$n -v sz=$2 -v t=$best -v py=$py -v mb=$mb 'BEGIN {
        printf "%-9d %8s %9.0f %11.0f %9.1f %11.0f %7.1fx\n",
            n, mb, sz / t / 1e6, n / t, sz / py / 1e6, n / py, py / t }'
    [ -n "$prev" ] && awk -v a=$prev -v b=$best 'BEGIN { printf "time(1M) / time(100k) = %.2f\n", b / a }'
    prev=$best
done
