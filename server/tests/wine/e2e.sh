#!/bin/sh
# kesmar.exe under Wine as a user drives it, on Xvfb: a client connects and
# sends 16 bytes, "送信" starts whole 9-byte blocks once a period, which go
# on while the menu is held open, and stops them again, the client leaves,
# the event pane's lines are copied out through the clipboard, and
# ファイル > 終了 ends the program with status 0; a second run ends through
# the window's close command with a client still connected, whose connection
# is then closed. The steps it shares with the Linux tests are in
# ../blackbox.sh.
#   e2e.sh PREFIX KESMAR_EXE    (test.txt must lie beside it)
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../blackbox.sh"
. "$here/wine.sh"
need Xvfb xdotool xclip python3 od ss awk
prefix="$1"
exe="$2"
need_exe "$exe" "scripts/build-windows.sh builds it"
[ -f "$(dirname "$exe")/test.txt" ] || fail "no test.txt beside $exe"
need_prefix "$prefix"

start_xvfb
use_prefix "$prefix"
run_kesmar "$exe"
connect_client 16

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
stopped_whole 1.5
# At the period: the blocks after the first came about one a period apart
# on the whole. Loose, as a tick the machine delayed is followed by the next
# one on time, or dropped, and Wine under load is late by a good part of one.
gap="$(awk '{ if (n++ == 0) first = $1; else blocks += $2 / 9; last = $1 }
            END { if (blocks > 0) printf "%d", (last - first) / blocks }' "$work/arrivals")"
[ -n "$gap" ] && [ "$gap" -ge 500 ] && [ "$gap" -le 2000 ] ||
    fail "blocks came ${gap:-?} ms apart on the whole, the period being 1000 ms"
echo "received $blocks whole blocks, $gap ms apart on the whole"

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
ends_with 0 "after 終了"
echo "終了: exit status 0"

# The close command, as the frame's close button gives it (Alt+F4 here:
# without a window manager there is no frame to click).
run_kesmar "$exe"
connect_client 16
xdotool windowfocus --sync "$win" key alt+F4
ends_with 0 "after closing the window"
wait_until 50 test -e "$work/closed" || fail "the client's connection was not closed"
echo "closed: exit status 0, connection closed"
