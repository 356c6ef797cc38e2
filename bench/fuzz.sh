#!/bin/sh
# Fuzzes the test-pattern reader with libFuzzer (clang), ASan and UBSan.
#   bench/fuzz.sh [seconds]   fuzz for that long (default 300) from the seed corpus
#   bench/fuzz.sh --replay    only replay the seed corpus
# New inputs go to build-fuzz/corpus; the seeds in server/fuzz/corpus are not
# touched. Add an input that ever failed there by hand.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build-fuzz"
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I "$root/server/core" "$root/server/core/PatternScanner.cpp" \
    "$root/server/core/PatternFile.cpp" "$root/server/core/PatternExcerpt.cpp" \
    "$root/server/fuzz/fuzz_pattern.cpp" -o "$out/fuzz_pattern"

if [ "${1:-}" = "--replay" ]; then
    exec "$out/fuzz_pattern" -runs=0 "$root/server/fuzz/corpus"
fi
seconds="${1:-300}"
# -rss_limit_mb and -max_len keep the "small multiple of the input" promise honest.
"$out/fuzz_pattern" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=256 \
    -timeout=5 -print_final_stats=1 "$out/corpus" "$root/server/fuzz/corpus" 2>&1 |
    tee "$out/last-run.log" | grep -E "^#[0-9]+.*(pulse|DONE|NEW)|stat::|ERROR|SUMMARY" | tail -n 15
