#!/usr/bin/env bash
# The accessibility bridge's cost in instructions, which the machine's load
# does not move: kesmar under callgrind at 10 ms with events shown and a
# client reading, instructions per block sent over 15 s, for a kesmar that
# stays off the accessibility bus (BEFORE, a build of an earlier commit) and
# one that joins it (BUILD), both in a D-Bus session with that bus running,
# one after the other, ROUNDS times. The window is driven with xdotool, as
# the one that stays off the bus cannot be driven with kesmarctl.
#   BEFORE=dir [BUILD=dir] [ROUNDS=3] bench/bridge_instructions.sh
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
after="$(cd "${BUILD:-$root/build-bench}" && pwd)"
before="$(cd "${BEFORE:?BEFORE=dir: a build of the commit to compare with}" && pwd)"
launcher=""
for d in /usr/libexec /usr/lib/at-spi2-core; do
    [ -x "$d/at-spi-bus-launcher" ] && launcher="$d/at-spi-bus-launcher"
done
for tool in valgrind callgrind_control Xvfb xdotool dbus-daemon python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -n "$launcher" ] || { echo "missing: at-spi-bus-launcher (at-spi2-core)" >&2; exit 1; }
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_ACCESSIBILITY AT_SPI_BUS_ADDRESS

tmp="$(mktemp -d)"
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>"$tmp/display" >/dev/null 2>&1 &
pids="$pids $!"
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$tmp/display")"

# run_one BIN: instructions per block of that kesmar.
run_one() {
    local w="$tmp/run.$RANDOM" win HEIGHT WIDTH X Y SCREEN WINDOW menu kesmar client n0 n1 ir bus launched
    mkdir -p "$w/app"
    mkdir -m 700 "$w/xdg"
    cp "$1" "$root/server/test.txt" "$w/app/"
    export XDG_RUNTIME_DIR="$w/xdg" DBUS_SESSION_BUS_ADDRESS="unix:path=$w/bus"
    dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>&1 &
    bus=$!
    pids="$pids $bus"
    for _ in $(seq 50); do [ -S "$w/bus" ] && break; sleep 0.1; done
    env -u DISPLAY "$launcher" --launch-immediately >/dev/null 2>&1 &
    launched=$!
    pids="$pids $launched"
    valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$w/cg" "$w/app/kesmar" \
        >/dev/null 2>"$w/valgrind.log" &
    kesmar=$!
    pids="$pids $kesmar"
    win=""
    for _ in $(seq 300); do
        win="$(xdotool search --onlyvisible --name '^Tarvolin' 2>/dev/null | head -n1 || :)"
        [ -n "$win" ] && break
        sleep 0.2
    done
    [ -n "$win" ] || { echo "kesmar did not show its window" >&2; exit 1; }
    eval "$(xdotool getwindowgeometry --shell "$win")"
    menu=$((HEIGHT - 383))
    sleep 3
    # The slider to 0, then one step right: 10 ms; then "送信".
    xdotool mousemove --window "$win" 280 $((menu + 120)) click 1
    sleep 0.5
    xdotool key Home Right
    sleep 1
    xdotool mousemove --window "$win" 336 $((menu + 48)) click 1
    python3 - "$w/bytes" <<'PY' &
import socket, sys, time
s = socket.create_connection(("127.0.0.1", 20319))
s.settimeout(0.2)
n, end = 0, time.time() + 40
while time.time() < end:
    try:
        n += len(s.recv(65536))
    except socket.timeout:
        pass
    open(sys.argv[1], "w").write(str(n))
PY
    client=$!
    pids="$pids $client"
    sleep 5
    callgrind_control -i on "$kesmar" >/dev/null 2>&1
    sleep 2
    callgrind_control -z "$kesmar" >/dev/null 2>&1
    n0="$(cat "$w/bytes")"
    sleep 15
    n1="$(cat "$w/bytes")"
    callgrind_control -d "$kesmar" >/dev/null 2>&1
    sleep 2
    ir="$(awk '/^summary:/ { print $2 }' "$w/cg.1")"
    kill "$client" "$kesmar" "$launched" "$bus" 2>/dev/null || true
    wait "$kesmar" "$launched" "$bus" 2>/dev/null || true
    echo "$(((n1 - n0) / 9)) $ir"
}

echo "callgrind, 15 s at 10 ms, events shown: blocks, instructions, per block"
for round in $(seq "${ROUNDS:-3}"); do
    for side in before after; do
        bin="$before/bin/kesmar"
        [ "$side" = after ] && bin="$after/bin/kesmar"
        run_one "$bin" >"$tmp/result"
        read -r blocks ir <"$tmp/result"
        printf '%-6s %6d %12d %9d\n' "$side" "$blocks" "$ir" $((ir / blocks))
    done
done
