#!/bin/sh
# Runs a Windows console program under Wine on a display of its own and
# exits with its status: the cross-built tests, in the caller's network
# namespace (see wine.sh).
#   run.sh PREFIX EXE [ARGS...]
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../e2e/xvfb.sh"
. "$here/wine.sh"
need Xvfb
prefix="$1"
exe="$2"
shift 2
[ -f "$prefix/.tarvolin-prefix" ] || fail "no Wine prefix in $prefix (prefix.sh makes it)"
[ -f "$exe" ] || {
    echo "skipped: no $exe (cross-build.sh makes it)"
    exit 77
}

start_xvfb
use_prefix "$prefix"
st=0
wine "$exe" "$@" || st=$?
exit "$st"
