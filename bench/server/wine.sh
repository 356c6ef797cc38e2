#!/usr/bin/env bash
# kesmar.exe under Wine beside the Linux kesmar and the bare paced sender, in
# one run: the period rows with the 9-byte sample pattern and the throughput
# rows with 64 KiB, 1 MiB and 4 MiB patterns, all at 10 ms, events shown and
# hidden. Wine is not Windows: it sends through Linux's TCP stack and waits
# on its own timers, so its rows say how the program fares under Wine on
# this machine and nothing about Windows.
#   bench/server/wine.sh [seconds per run]   (default 10, or $SECONDS_PER_RUN)
# WINBUILD=dir picks the Windows build (default: build-windows/, which
# scripts/build-windows.sh makes); RECORDS="16384" picks the patterns.
# Run it in a network namespace of its own: the wineserver it starts holds
# the program's sockets, so it must live in that namespace too.
. "$(dirname "$0")/common.sh"
s="${1:-${SECONDS_PER_RUN:-10}}"
base_port=20322
port_free "$base_port" || { echo "port $base_port is taken" >&2; exit 1; }

for tool in wine wineserver pgrep; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
winbuild="${WINBUILD:-$root/build-windows}"
case "$winbuild" in /*) ;; *) winbuild="$PWD/$winbuild" ;; esac
if [ -f "$winbuild/CMakeCache.txt" ]; then
    cmake --build "$winbuild" -j2 --target kesmar fendral >/dev/null
else
    "$root/scripts/build-windows.sh" "$winbuild" >/dev/null
fi
exe="$winbuild/bin/kesmar.exe"
[ -f "$exe" ] || { echo "no $exe after the build" >&2; exit 1; }

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# A prefix of the bench's own beside the build, made once (with the fonts
# the window asks for) by the tests' script, so that no test's wineserver is
# ever stopped or shared by this one.
WINEPREFIX="$build/wine-bench-prefix"
export WINEPREFIX
sh "$root/server/tests/wine/prefix.sh" "$WINEPREFIX" >&2
wine_pid=""
wineserver_pid=""

wine_cleanup() {
    set +e
    stop_wine
    wineserver -k 2>/dev/null
    cleanup
}
trap wine_cleanup EXIT

# One left from a run in another namespace would serve this one; then a
# persistent one of our own, so that each start of the program does not pay
# for a new one and its CPU time can be read.
start_wineserver() {
    wineserver -k 2>/dev/null || true
    wineserver -p
    local p me
    me="$(readlink /proc/self/ns/net)"
    for _ in $(seq 50); do
        for p in $(pgrep "^wineserver"); do
            [ "$(readlink "/proc/$p/ns/net" 2>/dev/null)" = "$me" ] &&
                tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
                wineserver_pid=$p
        done
        [ -n "$wineserver_pid" ] && return 0
        sleep 0.1
    done
    echo "the wineserver did not start" >&2
    exit 1
}

cpu_ticks() { # cpu_ticks PID: user + system time in clock ticks
    awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

# start_wine PATTERN_DIR: a copy of kesmar.exe (and its DLL) beside that
# dir's test.txt, as start_kesmar does for the Linux binary; sets win and
# menu for the common.sh helpers.
start_wine() {
    local dir="$tmp/wine.$RANDOM"
    mkdir -p "$dir"
    cp "$exe" "$winbuild/bin/Fendral.dll" "$dir/"
    cp "$1/test.txt" "$dir/test.txt"
    wait_port "$port" 120 || { echo "port $port stayed taken for 120 s" >&2; exit 1; }
    (cd "$dir" && exec wine kesmar.exe) >"$dir/log" 2>&1 &
    wine_pid=$!
    # Wine also makes windows for the input method under the same process.
    local w HEIGHT WIDTH X Y SCREEN WINDOW
    win=""
    for _ in $(seq 200); do
        w="$(xdotool search --all --pid "$wine_pid" --onlyvisible \
            --name '^Tarvolin\(TCP Server\)$' 2>/dev/null | head -n1 || true)"
        [ -n "$w" ] && ! port_free "$port" && { win=$w; break; }
        kill -0 "$wine_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$win" ]; then
        echo "kesmar.exe did not show its window or does not listen:" >&2
        cat "$dir/log" >&2
        exit 1
    fi
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$win")"
    [ "$WIDTH" = 434 ] || { echo "kesmar.exe's window is $WIDTH wide, not 434" >&2; exit 1; }
    menu=$((HEIGHT - 383))
}

stop_wine() {
    if [ -n "$wine_pid" ]; then
        kill "$wine_pid" 2>/dev/null || true
        for _ in $(seq 30); do kill -0 "$wine_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$wine_pid" 2>/dev/null || true
        wait "$wine_pid" 2>/dev/null || true
        wine_pid=""
    fi
    for _ in $(seq 50); do port_free "$port" && break; sleep 0.1; done
}

# Without a window manager a click does not give the window the keyboard:
# focus it, then the trackbar takes Home (0) and Right (+10 ms).
wine_set_period_10() {
    xdotool mousemove --window "$win" 280 $((menu + 120)) click 1
    sleep 0.2
    xdotool windowfocus --sync "$win" key --delay 20 Home Right
    sleep 0.2
}

# client_row MODE PORT BLOB LABEL [PID]: one row of the client, its warnings
# kept; for the Wine rows the wineserver's CPU over the whole connection
# (warm-up second included) follows the row.
whole=yes
client_row() {
    local mode=$1 p=$2 blob=$3 label=$4 pid=${5:-} t0 c0 row extra=""
    t0="$(date +%s.%N)"
    local wine_row=""
    [ -n "$pid" ] && [ "$pid" = "$wine_pid" ] && wine_row=1
    [ -n "$wine_row" ] && c0="$(cpu_ticks "$wineserver_pid")"
    row="$(run "$client" "$mode" "$p" "$blob" 10 "$s" "$label" ${pid:+"$pid"} 2>"$tmp/err")"
    if [ -n "$wine_row" ]; then
        extra="$(awk -v c0="$c0" -v c1="$(cpu_ticks "$wineserver_pid")" -v t0="$t0" \
            -v t1="$(date +%s.%N)" -v hz="$(getconf CLK_TCK)" \
            'BEGIN { printf "  wineserver %.0f", (c1 - c0) / hz / (t1 - t0) * 100 }')"
    fi
    printf '%s%s\n' "$row" "$extra"
    if [ -s "$tmp/err" ]; then
        sed 's/^/    /' "$tmp/err"
        grep -q 'differ from the pattern' "$tmp/err" && whole=no
    fi
    case "$row" in *"source ended early"* | *"too few blocks"*) whole=no ;; esac
}

# server_row KIND MODE PATTERN_DIR: a fresh program for one row.
server_row() {
    local kind=$1 mode=$2 d=$3 label
    if [ "$kind" = wine ]; then
        start_wine "$d"
        wine_set_period_10
        label="Wine kesmar.exe"
    else
        start_kesmar "$d"
        set_period 10
        label="Linux kesmar"
    fi
    [ "$mode" = hidden ] && { toggle_events; label="${label%% *}, no events"; }
    toggle_send
    if [ "$kind" = wine ]; then
        client_row "$table" "$port" "$d/blob" "$label" "$wine_pid"
        stop_wine
    else
        client_row "$table" "$port" "$d/blob" "$label" "$kesmar_pid"
        stop_kesmar
    fi
}

paced_row() { # paced_row PATTERN_DIR
    start_group "exec '$client' paced $base_port '$1/blob' 10 32768 16384"
    client_row "$table" "$base_port" "$1/blob" "bare paced sender"
    stop_group "$last_group"
    for _ in $(seq 50); do port_free "$base_port" && break; sleep 0.1; done
}

start_xvfb
start_wineserver
echo "$(wine --version) (64-bit), WINEDEBUG=-all; Wine is not Windows: it runs on Linux's TCP stack"
echo "and its own timers. $s s per run after 1 s not timed, period 10 ms; 'no events' has"
echo "\"イベントを表示しない\" checked. Wine rows end with the wineserver's CPU % (whole run)."
load_note

echo
echo "period, 9-byte sample pattern: interval = time between the arrivals of successive whole"
echo "blocks; err = |interval - period|; drift = (last - first arrival) - (blocks - 1) x period"
table=period
"$client" sample "$tmp"
printf '%-20s %6s %7s %10s %8s %8s %8s %8s %10s %5s\n' source "period" \
    blocks "mean err" "err %" "p50 ms" "p99 ms" "max ms" "drift ms" "cpu %"
for kind in linux wine; do
    for mode in shown hidden; do server_row "$kind" "$mode" "$tmp"; done
done
paced_row "$tmp"
load_note

echo
echo "throughput: 'plain' client (no socket options, reads as fast as it can); on time ="
echo "intervals within 1 ms of 10 ms; bare paced sender: kesmar's buffers, 16 KiB pieces"
table=throughput
printf '%-28s %8s %8s %8s %6s %8s %8s %8s %8s %7s %5s\n' source block "MB/s" "blocks/s" asked \
    "iv p1" "iv p50" "iv p99" "iv max" "on time" "cpu %"
for records in ${RECORDS:-16384 262144 1048576}; do
    d="$tmp/p$records"
    mkdir -p "$d"
    "$client" pattern "$records" "$d"
    for kind in linux wine; do
        for mode in shown hidden; do server_row "$kind" "$mode" "$d"; done
    done
    paced_row "$d"
done
load_note
echo "every block whole (each byte compared with the pattern, no source ended early): $whole"
