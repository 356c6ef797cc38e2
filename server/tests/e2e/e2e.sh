#!/bin/sh
# The real program as a user drives it, under Xvfb: a TCP client connects,
# "送信" starts the pattern flowing once a period, a second click stops it,
# and ファイル > 終了 closes the connection and ends the program with status 0.
#   e2e.sh KESMAR_BINARY    (test.txt must lie beside it, as the build leaves it)
set -eu
. "$(dirname "$0")/xvfb.sh"
need Xvfb xdotool python3 od
bin="$1"
[ -f "$(dirname "$bin")/test.txt" ] || fail "no test.txt beside $bin"

start_xvfb
start_kesmar "$bin"
find_window
[ "$WIDTH" -eq 434 ] || fail "window is $WIDTH wide"

# Records every byte that arrives, and marks its connecting and the
# server's close of the connection. It gives up after 30 s whatever happens.
: >"$work/received"
python3 - "$work/received" "$work/connected" "$work/closed" <<'PY' &
import socket, sys, time
out = open(sys.argv[1], "ab", buffering=0)
end = time.time() + 30
s = socket.create_connection(("127.0.0.1", 20319), timeout=5)
s.settimeout(0.2)
open(sys.argv[2], "w").close()
while time.time() < end:
    try:
        chunk = s.recv(4096)
    except socket.timeout:
        continue
    except ConnectionError:
        chunk = b""
    if not chunk:
        open(sys.argv[3], "w").close()
        break
    out.write(chunk)
PY
helpers="$helpers $!"
received() { wc -c <"$work/received" | tr -d ' '; }
at_least() { [ "$(received)" -ge "$1" ]; }

# cmdSend lies at 272..401 x 16..81 of the client area.
click_send() { xdotool mousemove --window "$win" 336 $((menu + 48)) click 1; }

# The pattern is 9 bytes and the period 1000 ms: two blocks arrive within
# a few seconds of switching on.
wait_until 50 test -e "$work/connected" || fail "could not connect to 127.0.0.1:20319"
click_send
wait_until 80 at_least 18 || fail "received $(received) bytes after switching sending on"

# Off: at most a block already on its way arrives after the click.
click_send
stopped="$(received)"
sleep 2.5
late=$(($(received) - stopped))
[ "$late" -le 9 ] || fail "$late bytes arrived after switching sending off"

total="$(received)"
[ $((total % 9)) -eq 0 ] || fail "received $total bytes, not whole blocks"
got="$(od -An -v -tx1 "$work/received" | tr -d ' \n')"
want=""
i=0
while [ "$i" -lt $((total / 9)) ]; do
    want="${want}aa341204030201feff"
    i=$((i + 1))
done
[ "$got" = "$want" ] || fail "received $got"
echo "received $((total / 9)) copies of the pattern"

# ファイル, then its only item.
xdotool mousemove --window "$win" 20 $((menu / 2)) click 1
sleep 0.3
xdotool key Down Return
wait_for_exit
[ "$status" -eq 0 ] || fail "exit status $status after 終了"
wait_until 50 test -e "$work/closed" || fail "the client's connection was not closed"
echo "終了: exit status 0, connection closed"
