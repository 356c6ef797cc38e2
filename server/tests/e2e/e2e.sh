#!/bin/sh
# The real program as a user drives it, under Xvfb: a TCP client connects,
# "送信" starts the pattern flowing once a period, a second click stops it,
# and ファイル > 終了 closes the connection and ends the program with status 0.
# The steps it shares with the Wine tests are in ../blackbox.sh.
#   e2e.sh KESMAR_BINARY    (test.txt must lie beside it, as the build leaves it)
set -eu
. "$(dirname "$0")/../blackbox.sh"
need Xvfb xdotool python3 od ss
bin="$1"
[ -f "$(dirname "$bin")/test.txt" ] || fail "no test.txt beside $bin"

start_xvfb
run_kesmar "$bin"
connect_client

# cmdSend lies at 272..401 x 16..81 of the client area. The pattern is 9
# bytes and the period 1000 ms: two blocks arrive within a few seconds of
# switching on.
click_at 336 48 # 送信
wait_until 80 at_least 18 || fail "received $(received) bytes after switching sending on"
click_at 336 48 # 停止
stopped_whole 2.5
echo "received $blocks copies of the pattern"

# ファイル, then its only item.
xdotool mousemove --window "$win" 20 $((menu / 2)) click 1
sleep 0.3
xdotool key Down Return
ends_with 0 "after 終了"
wait_until 50 test -e "$work/closed" || fail "the client's connection was not closed"
echo "終了: exit status 0, connection closed"
