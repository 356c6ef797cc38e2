#!/usr/bin/env bash
# Clients that connect as test code does, against the real kesmar under an
# Xvfb of its own, sending on every 10 ms (bench/server/connclient.cpp):
#   bench/server/connect.sh probe [rounds, default 200]   port probe, then the client
#   bench/server/connect.sh churn [clients, default 600]  1 MiB blocks, clients in turn
#   bench/server/connect.sh race  [rounds, default 200]   three clients at once, the
#                                                         served one leaving at once, then
#                                                         staying 200 ms
# The probe runs once without data and once with an HTTP request before the
# close. After each run the "Accept requestID = " lines are copied out of the
# log pane (events hidden, so that only they are there) and counted.
# SERVER=wine runs kesmar.exe under Wine instead (WINBUILD as for wine.sh).
# Run it in a network namespace of its own:
#   unshare -n sh -c 'ip link set lo up && bench/server/connect.sh probe'
. "$(dirname "$0")/common.sh"
[ "${SERVER:-linux}" = wine ] && . "$here/wineenv.sh"
command -v xclip >/dev/null || { echo "missing: xclip" >&2; exit 1; }
mode="${1:-probe}"
count="${2:-}"

g++ -O2 -std=c++20 -pthread -o "$tmp/connclient" "$here/connclient.cpp"

# The log pane's text, through the clipboard: a click in it, select all, copy.
# Without a window manager a click does not give a Wine window the keyboard.
log_text() {
    click_at 100 300
    [ "$server" = wine ] && xdotool windowfocus --sync "$win"
    xdotool key ctrl+a ctrl+c
    sleep 0.3
    xclip -o -selection clipboard 2>/dev/null || true
}

accept_lines() { log_text | grep -c '^Accept requestID = ' || true; }

# serve PATTERN_DIR: kesmar beside that test.txt, events hidden, sending on
# every 10 ms.
serve() {
    start_kesmar "$1"
    set_period 10
    toggle_events
    toggle_send
}

load_note
start_xvfb
if [ "${SERVER:-linux}" = wine ]; then
    start_wineserver
    server=wine
fi
mkdir -p "$tmp/sample" "$tmp/mib"
case "$mode" in
probe)
    "$client" sample "$tmp/sample" >/dev/null
    for kind in empty data; do
        serve "$tmp/sample"
        run "$tmp/connclient" probe "$port" "${count:-200}" "$kind"
        echo "Accept lines: $(accept_lines)"
        stop_kesmar
    done
    ;;
churn)
    "$client" pattern 262144 "$tmp/mib" >/dev/null
    serve "$tmp/mib"
    run "$tmp/connclient" churn "$port" "${count:-600}" 1
    echo "Accept lines: $(accept_lines)"
    stop_kesmar
    ;;
race)
    "$client" sample "$tmp/sample" >/dev/null
    for hold in 0 200; do
        serve "$tmp/sample"
        run "$tmp/connclient" race "$port" "${count:-200}" 3 "$hold"
        echo "Accept lines: $(accept_lines)"
        stop_kesmar
    done
    ;;
*)
    echo "usage: $0 probe|churn|race [count]" >&2
    exit 2
    ;;
esac
load_note
