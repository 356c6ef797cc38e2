#!/bin/sh
# The shared object exports exactly the three operations and needs only libc.
set -eu
so="$1"
exports="$(nm -D --defined-only "$so" | awk '$2 == "T" { print $3 }' | sort | tr '\n' ' ')"
[ "$exports" = "getBit setBit setBitFloat " ] || { echo "exports: $exports"; exit 1; }
others="$(nm -D --defined-only "$so" | awk '$2 != "T" && $3 !~ /^_/ { print $3 }')"
[ -z "$others" ] || { echo "other symbols: $others"; exit 1; }
needed="$(readelf -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"
case "$needed" in
    "" | "libc.so.6 ") ;;
    *) echo "needs: $needed"; exit 1 ;;
esac
echo "exports: $exports; needs: $needed"
