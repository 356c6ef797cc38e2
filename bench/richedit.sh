#!/bin/sh
# What the Win32 panes' RichEdit costs under Wine, operation by operation, on
# panes of 3,000, 10,000 and 30,000 lines: appending, painting, dropping
# lines from the top or the end, emptying, destroying. Wine is not Windows:
# these are Wine's costs on this machine.
#   bench/richedit.sh     (BUILD=dir for the prefix's place, default build-bench/)
set -eu
. "$(dirname "$0")/common.sh"
here="$root/server/tests/wine"
. "$root/server/tests/blackbox.sh"
. "$here/wine.sh"
need Xvfb x86_64-w64-mingw32-g++-posix
mkdir -p "$build"
x86_64-w64-mingw32-g++-posix -O2 -std=c++20 -municode -static -o "$build/richedit_bench.exe" \
    "$root/bench/richedit_bench.cpp"
sh "$here/prefix.sh" "$build/richedit-prefix" >&2
start_xvfb
use_prefix "$build/richedit-prefix"
echo "$(wine --version); load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u +%H:%M:%S) UTC"
wine "$build/richedit_bench.exe"
