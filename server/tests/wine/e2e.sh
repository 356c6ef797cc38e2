#!/bin/sh
# kesmar.exe under Wine as a user drives it, on Xvfb: a client connects and
# sends 16 bytes, "送信" starts whole 9-byte blocks once a period, which go
# on while the menu is held open, and stops them again, the client leaves, the event pane's lines are copied out
# through the clipboard, and ファイル > 終了 ends the program with status 0;
# a second run ends through the window's close command with a client still
# connected, whose connection is then closed.
#   e2e.sh PREFIX KESMAR_EXE    (test.txt must lie beside it)
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../e2e/xvfb.sh"
. "$here/wine.sh"
need Xvfb xdotool xclip python3 od ss awk
prefix="$1"
exe="$2"
[ -f "$exe" ] || {
    echo "skipped: no $exe (scripts/build-windows.sh builds it)"
    exit 77
}
[ -f "$(dirname "$exe")/test.txt" ] || fail "no test.txt beside $exe"
[ -f "$prefix/.tarvolin-prefix" ] || fail "no Wine prefix in $prefix (prefix.sh makes it)"

. "$here/kesmar-window.sh"
start_xvfb
use_prefix "$prefix"

# Records every block with the time it came, in ms; sends 16 bytes once
# connected; leaves when told to (the file "leave" appears), and marks it
# when the server closes the connection first. Gives up after 40 s.
client() {
    python3 - "$work" <<'PY' &
import os, socket, sys, time
work = sys.argv[1]
out = open(os.path.join(work, "received"), "ab", buffering=0)
times = open(os.path.join(work, "arrivals"), "a", buffering=1)
end = time.time() + 40
s = socket.create_connection(("127.0.0.1", 20319), timeout=5)
s.settimeout(0.05)
s.sendall(bytes(range(16)))
open(os.path.join(work, "connected"), "w").close()
while time.time() < end:
    if os.path.exists(os.path.join(work, "leave")):
        s.close()
        break
    try:
        chunk = s.recv(4096)
    except socket.timeout:
        continue
    except ConnectionError:
        chunk = b""
    if not chunk:
        open(os.path.join(work, "closed"), "w").close()
        break
    out.write(chunk)
    times.write("%d %d\n" % (int(time.monotonic() * 1000), len(chunk)))
PY
    helpers="$helpers $!"
    wait_until 100 test -e "$work/connected" || fail "could not connect to 127.0.0.1:20319"
}
received() { wc -c <"$work/received" | tr -d ' '; }
at_least() { [ "$(received)" -ge "$1" ]; }

: >"$work/received"
: >"$work/arrivals"
run_kesmar "$exe"
client

# The pattern is 9 bytes and the period 1000 ms.
click_at 336 48 # 送信
wait_until 100 at_least 36 || fail "received $(received) bytes after switching sending on"
# The open menu runs a message loop of its own: the blocks keep coming.
xdotool windowfocus --sync "$win" key F10 Down
during="$(received)"
wait_until 50 at_least $((during + 18)) || fail "$(($(received) - during)) bytes while the menu was open"
xdotool key Escape Escape
sleep 0.3
click_at 336 48 # 停止
stopped="$(received)"
sleep 1.5
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
# At the period: the blocks after the first came about one a period apart
# on the whole. Loose, as a tick the machine delayed is followed by the next
# one on time, or dropped, and Wine under load is late by a good part of one.
gap="$(awk '{ if (n++ == 0) first = $1; else blocks += $2 / 9; last = $1 }
            END { if (blocks > 0) printf "%d", (last - first) / blocks }' "$work/arrivals")"
[ -n "$gap" ] && [ "$gap" -ge 500 ] && [ "$gap" -le 2000 ] ||
    fail "blocks came ${gap:-?} ms apart on the whole, the period being 1000 ms"
echo "received $((total / 9)) whole blocks, $gap ms apart on the whole"

touch "$work/leave"
wait_until 50 listening || fail "not listening again after the client left"

log="$(pane_text 116 296)" # txtStat
printf '%s\n' "$log" | sed 's/^/  | /'
expect_line() {
    printf '%s\n' "$log" | grep -Eq "$1" || fail "no line like \"$1\" in the event pane"
}
expect_line '^Accept requestID = 1 -?[0-9]+$'
expect_line '^Receive 16 -?[0-9]+$'
expect_line '^Send 9 -?[0-9]+$'
expect_line '^Close -?[0-9]+$'

# ファイル > 終了 from the keyboard: F10 opens the menu bar, Down its menu,
# Enter takes its only item.
xdotool windowfocus --sync "$win" key F10 Down Return
wait_for_exit
[ "$status" -eq 0 ] || fail "exit status $status after 終了"
echo "終了: exit status 0"

# The close command, as the frame's close button gives it (Alt+F4 here:
# without a window manager there is no frame to click).
rm -f "$work/connected" "$work/closed" "$work/leave"
run_kesmar "$exe"
client
xdotool windowfocus --sync "$win" key alt+F4
wait_for_exit
[ "$status" -eq 0 ] || fail "exit status $status after closing the window"
wait_until 50 test -e "$work/closed" || fail "the client's connection was not closed"
echo "closed: exit status 0, connection closed"
