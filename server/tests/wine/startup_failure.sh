#!/bin/sh
# kesmar.exe under Wine with a start-up that cannot go on: a bad test.txt,
# then port 20319 held by another program. Each time the message goes to
# standard error and to a message box, the main window never shows, the
# server does not listen, and once the box is dismissed the program ends
# with status 1. The cases, shared with the Linux test, are in
# ../blackbox.sh.
#   startup_failure.sh PREFIX KESMAR_EXE
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../blackbox.sh"
. "$here/wine.sh"
need Xvfb xdotool python3 ss
prefix="$1"
exe="$2"
need_exe "$exe" "scripts/build-windows.sh builds it"
need_prefix "$prefix"

start_xvfb
use_prefix "$prefix"
startup_failures "$exe"
