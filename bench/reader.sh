#!/bin/sh
# Reader throughput beside Python's csv module on the same generated file.
#   bench/reader.sh [records, default 1000000]   (BUILD=dir to build elsewhere)
set -eu
. "$(dirname "$0")/common.sh"
bench_build reader_bench
total="${1:-1000000}"
small=$((total / 10))
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 "$root/bench/gen_pattern.py" "$total" "$work/test.txt"

"$build/bin/reader_bench" "$work/test.txt" 7 "$small" "$total" >"$work/cpp"
python3 "$root/bench/py_reader.py" "$work/test.txt" 5 "$small" "$total" >"$work/py"

echo "readPattern: best and median of 7 runs; $(python3 --version) csv: of 5 runs"
paste -d' ' "$work/cpp" "$work/py" | awk '
    function mbs(bytes, s) { return bytes / s / 1e6 }
    BEGIN {
        printf "%9s %7s %9s %9s %11s %9s %11s %9s\n", "records", "MB", "MB/s best", "MB/s med",
               "records/s", "py MB/s", "py rec/s", "vs py"
    }
    {
        if ($3 != $8) { printf "packed sizes differ: %s vs %s bytes\n", $3, $8; bad = 1 }
        printf "%9d %7.1f %9.0f %9.0f %11.0f %9.1f %11.0f %8.1fx\n", $1, $2 / 1e6,
               mbs($2, $4), mbs($2, $5), $1 / $4, mbs($7, $9), $6 / $9, $9 / $4
        best[NR] = $4; med[NR] = $5; pybest[NR] = $9
    }
    END {
        printf "time(%d) / time(%d) = %.2f best, %.2f median (Python: %.2f)\n",
               $1, $1 / 10, best[2] / best[1], med[2] / med[1], pybest[2] / pybest[1]
        exit bad
    }'
