#!/bin/sh
# A start-up that cannot go on, on a real display: the report comes as a
# message box over no window, the main window never shows, the program
# waits for the user and ends with status 1 once the box is dismissed.
#   startup_failure.sh KESMAR_BINARY
set -eu
. "$(dirname "$0")/xvfb.sh"
need Xvfb xdotool python3
bin="$1"
good="$(dirname "$bin")/test.txt"

start_xvfb
cp "$bin" "$work/kesmar"

# Holds port 20319 until killed; marks when it listens.
hold_port() {
    python3 - "$work/held" <<'PY' &
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 20319))
s.listen(1)
open(sys.argv[1], "w").close()
time.sleep(30)
PY
    holder=$!
    helpers="$helpers $holder"
    wait_until 50 test -e "$work/held" || fail "could not hold port 20319"
}

# case NAME MESSAGE: test.txt and the port are set up by the caller.
case_() {
    name="$1"
    message="$2"
    start_kesmar "$work/kesmar"
    find_window
    [ "$WIDTH" -ne 434 ] || fail "$name: the main window showed"
    running || fail "$name: ended before the report was dismissed"
    xdotool windowfocus --sync "$win" key Return
    wait_for_exit
    [ "$status" -eq 1 ] || fail "$name: exit status $status"
    grep -qF "$message" "$work/kesmar.log" || fail "$name: no \"$message\""
    echo "$name: a ${WIDTH}x$HEIGHT box, exit status 1"
}

printf 'sync,0,0,8,170\r\nodd,0,0,12,1\r\n' >"$work/test.txt"
case_ "bad test.txt" "line 2: bit width 12 is not 8, 16 or 32"

cp "$good" "$work/test.txt"
hold_port
case_ "port taken" "20319"
kill "$holder"
