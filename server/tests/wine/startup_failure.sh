#!/bin/sh
# kesmar.exe under Wine with a start-up that cannot go on: a bad test.txt,
# then port 20319 held by another program. Each time the message goes to
# standard error and to a message box, the main window never shows, the
# server does not listen, and once the box is dismissed the program ends
# with status 1.
#   startup_failure.sh PREFIX KESMAR_EXE
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../e2e/xvfb.sh"
. "$here/wine.sh"
need Xvfb xdotool python3 ss
prefix="$1"
exe="$2"
[ -f "$exe" ] || {
    echo "skipped: no $exe (scripts/build-windows.sh builds it)"
    exit 77
}
[ -f "$prefix/.tarvolin-prefix" ] || fail "no Wine prefix in $prefix (prefix.sh makes it)"

. "$here/kesmar-window.sh"
start_xvfb
use_prefix "$prefix"
mkdir "$work/app"
cp "$exe" "$work/app/kesmar.exe"

# The box is the process's only window on the screen.
box_of_kesmar() {
    box="$(xdotool search --all --pid "$kpid" --onlyvisible --name '.' 2>/dev/null | head -n1)"
    [ -n "$box" ]
}

# case_ NAME MESSAGE [free]: test.txt and the port are set up by the
# caller; "free": nothing may listen on 20319 while the box waits.
case_() {
    start_exe "$work/app/kesmar.exe"
    wait_until 200 box_of_kesmar || fail "$1: no message box appeared"
    eval "$(xdotool getwindowgeometry --shell "$box")"
    [ "$WIDTH" -ne 434 ] || fail "$1: the main window showed"
    running || fail "$1: ended before the box was dismissed"
    if [ "${3:-}" = free ]; then
        ! listening || fail "$1: listening on 20319"
    fi
    title="$(xdotool getwindowname "$box")"
    xdotool windowfocus --sync "$box" key Return
    wait_for_exit
    [ "$status" -eq 1 ] || fail "$1: exit status $status"
    grep -qF "$2" "$work/kesmar.log" || fail "$1: no \"$2\" on standard error"
    printf '%s: "%s" in a %sx%s box titled "%s", exit status 1\n' \
        "$1" "$(head -n1 "$work/kesmar.log")" "$WIDTH" "$HEIGHT" "$title"
}

printf 'sync,0,0,8,170\r\nodd,0,0,12,1\r\n' >"$work/app/test.txt"
case_ "bad test.txt" "line 2: bit width 12 is not 8, 16 or 32" free

cp "$(dirname "$exe")/test.txt" "$work/app/test.txt"
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
case_ "port taken" "20319"
