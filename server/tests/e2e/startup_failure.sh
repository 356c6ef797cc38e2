#!/bin/sh
# A start-up that cannot go on, on a real display: a bad test.txt, then port
# 20319 held by another program. Each time the report comes as a message box
# over no window, the main window never shows, the program waits for the
# user and ends with status 1 once the box is dismissed; the cases are those
# of the Wine test, in ../blackbox.sh.
#   startup_failure.sh KESMAR_BINARY
set -eu
. "$(dirname "$0")/../blackbox.sh"
need Xvfb xdotool python3 ss
start_xvfb
startup_failures "$1"
