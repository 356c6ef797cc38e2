#!/bin/sh
# The shared object exports exactly the three operations and needs only libc.
set -eu
so="$1"
# Older linkers also put their section markers in the dynamic table.
defined="$(nm -D --defined-only "$so" |
    awk '$3 !~ /^(_init|_fini|_edata|_end|__bss_start)$/ { print $2, $3 }' | sort | tr '\n' ';')"
[ "$defined" = "T getBit;T setBit;T setBitFloat;" ] || { echo "defined: $defined"; exit 1; }
needed="$(readelf -d "$so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')"
for lib in $needed; do
    case "$lib" in
        libc.so.*) ;;
        *) echo "needs $lib"; exit 1 ;;
    esac
done
echo "defined: $defined needed: $needed"
