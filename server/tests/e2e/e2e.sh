#!/bin/sh
# The real program as a user drives it: under Xvfb, a TCP client connects,
# "送信" is clicked, the client receives the pattern, "送信" again stops it,
# and File > Exit ends the program with status 0.
#   e2e.sh KESMAR_BINARY [screenshot.png]
set -eu
bin="$1"
shot="${2:-}"
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "needs Xvfb and xdotool"; exit 77; }

work="$(mktemp -d)"
xpid="" kpid=""
cleanup() {
    [ -n "$kpid" ] && kill "$kpid" 2>/dev/null || true
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

cp "$bin" "$work/kesmar"
printf 'sync,0,0,8,170\r\nlength,0,0,16,4660\r\ncounter,0,0,32,16909060\r\ndelta,0,0,16,-2\r\n' >"$work/test.txt"

# Xvfb picks a free display and tells us its number.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
unset QT_QPA_PLATFORM

"$work/kesmar" >"$work/out.log" 2>&1 &
kpid=$!
win=""
for _ in $(seq 100); do
    win="$(xdotool search --name '^Tarvolin\(TCP Server\)$' 2>/dev/null | head -n1)" && [ -n "$win" ] && break
    sleep 0.1
done
[ -n "$win" ] || { echo "no window"; cat "$work/out.log"; exit 1; }
sleep 0.5

eval "$(xdotool getwindowgeometry --shell "$win")"
echo "window ${WIDTH}x${HEIGHT}"
menu=$((HEIGHT - 383))  # the client area is 383 high, under the menu bar
if [ -n "$shot" ]; then
    import -window "$win" "$shot"
    set -- $(identify -format '%w %h %[fx:standard_deviation]' "$shot")
    echo "screenshot $1x$2, deviation $3"
    [ "$1" -eq 434 ] && [ "$2" -eq "$HEIGHT" ] || { echo "screenshot has the wrong size"; exit 1; }
    awk -v d="$3" 'BEGIN { exit !(d > 0.05) }' || { echo "screenshot is blank"; exit 1; }
fi

# A client that records what arrives, for at most 8 seconds.
python3 - "$work/received" <<'PY' &
import socket, sys, time
s = socket.create_connection(("127.0.0.1", 20319), timeout=5)
s.settimeout(0.2)
data = b""
end = time.time() + 8
while time.time() < end and len(data) < 18:
    try:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    except socket.timeout:
        pass
open(sys.argv[1], "wb").write(data)
PY
client=$!
sleep 0.5

click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
click 336 $((menu + 48))     # "送信": on
wait "$client"
click 336 $((menu + 48))     # "停止": off
got="$(od -An -tx1 "$work/received" | tr -d ' \n')"
echo "received: $got"
case "$got" in
    aa341204030201feffaa341204030201feff*) ;;
    *) echo "expected two copies of the pattern"; exit 1 ;;
esac

click 20 $((menu / 2))       # "ファイル"
sleep 0.3
xdotool key Down Return      # "終了"
for _ in $(seq 50); do kill -0 "$kpid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$kpid" 2>/dev/null; then echo "still running after Exit"; exit 1; fi
status=0
wait "$kpid" || status=$?
kpid=""
echo "exit status $status"
[ "$status" -eq 0 ] || { tail -n 40 "$work/out.log"; exit 1; }
