#!/bin/sh
# Runs a Windows console program under Wine on a display of its own and
# exits with its status: the cross-built tests, in the caller's network
# namespace (see wine.sh).
#   run.sh PREFIX EXE [ARGS...]
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../blackbox.sh"
. "$here/wine.sh"
need Xvfb
prefix="$1"
exe="$2"
shift 2
need_prefix "$prefix"
need_exe "$exe" "cross-build.sh makes it"

start_xvfb
use_prefix "$prefix"
st=0
wine "$exe" "$@" || st=$?
exit "$st"
