# Shared by the server benchmarks (bash). Builds kesmar if needed, compiles
# the client, starts an Xvfb of its own and, per run, a copy of kesmar in a
# temp dir beside a generated test.txt; drives the window with xdotool as a
# user would. Everything started here is stopped on exit, however it ends.
#
# BUILD=dir picks the build directory (default: build/ at the repo root).

set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${BUILD:-$root/build}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
port=20319

tmp="$(mktemp -d "${TMPDIR:-/tmp}/kesmar-srvbench.XXXXXX")"
xvfb_pid=""
kesmar_pid=""
group_pids="" # session leaders of shell pipelines, stopped as whole groups
child_pids="" # clients and other helpers started by run

cleanup() {
    set +e
    for c in $child_pids; do kill "$c" 2>/dev/null; done
    for g in $group_pids; do kill -TERM -- "-$g" 2>/dev/null; done
    [ -n "$kesmar_pid" ] && kill "$kesmar_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

for tool in Xvfb xdotool socat g++ cmake ss; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target kesmar >/dev/null
kesmar_bin="$build/bin/kesmar"
[ -x "$kesmar_bin" ] || { echo "no $kesmar_bin after the build" >&2; exit 1; }
build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")"
[ "$build_type" = Release ] ||
    echo "note: $build is a '${build_type:-no type}' build; figures are for Release" >&2

# shellcheck disable=SC2046 # pkg-config's flags are words
g++ -O2 -std=c++20 -o "$tmp/srvclient" "$here/srvclient.cpp" $(pkg-config --cflags --libs glib-2.0)
client="$tmp/srvclient"

# run CMD...: runs CMD in the background and waits for it, so that a signal
# to this script is acted on at once rather than after CMD ends.
run() {
    "$@" &
    local pid=$!
    child_pids="$child_pids $pid"
    wait "$pid"
}

port_free() {
    ! ss -Htln "sport = :$1" | grep -q .
}

wait_port() { # wait_port PORT SECONDS
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        port_free "$1" && return 0
        [ "$i" = 10 ] && echo "(waiting for port $1 to be free)" >&2
        sleep 0.1
    done
    return 1
}

# Other work on the machine skews the figures; say how busy it was.
load_note() {
    echo "load average $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores, $(date -u +%H:%M:%S) UTC"
}

# An X server of our own; -displayfd lets it pick a free display. It must
# not reset when its last client goes: a kesmar started during the reset
# finds no display.
start_xvfb() {
    Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 3>"$tmp/display" \
        >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$tmp/display" ] && break
        sleep 0.05
    done
    [ -s "$tmp/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -n1 "$tmp/display")"
    unset QT_QPA_PLATFORM
}

# Which program start_kesmar starts: "linux", the kesmar of BUILD, or "wine",
# kesmar.exe ($exe, with Fendral.dll beside it) under Wine, which wine.sh
# sets up.
server=linux

# start_kesmar PATTERN_DIR: a copy of the binary beside that dir's test.txt.
# The port is fixed, and other work on the machine (a test run, say) may take
# it between our check and kesmar's listen; kesmar then shows its fatal-error
# box, titled like its window. So a start counts only once the listener on
# the port is this very process; otherwise it is stopped and tried again.
start_kesmar() {
    local attempt
    for attempt in 1 2 3 4 5; do
        try_start_kesmar "$1" && return 0
        echo "(port $port was taken by another process; starting again)" >&2
        stop_kesmar
        sleep 2
    done
    echo "could not start kesmar listening on port $port" >&2
    exit 1
}

try_start_kesmar() {
    local dir="$tmp/run.$RANDOM"
    kesmar_dir="$dir"
    mkdir -p "$dir"
    cp "$1/test.txt" "$dir/test.txt"
    wait_port "$port" 120 || { echo "port $port stayed taken for 120 s" >&2; exit 1; }
    if [ "$server" = wine ]; then
        cp "$exe" "$(dirname "$exe")/Fendral.dll" "$dir/"
        (cd "$dir" && exec wine kesmar.exe) >"$dir/log" 2>&1 &
    else
        cp "$kesmar_bin" "$dir/kesmar"
        "$dir/kesmar" >"$dir/log" 2>&1 &
    fi
    kesmar_pid=$!
    # Qt also makes an unmapped 1x1 window with the same title, and Wine
    # windows for the input method: take the mapped one that is as wide as
    # the main window.
    local w HEIGHT WIDTH X Y SCREEN WINDOW search=(--onlyvisible --name '^Tarvolin')
    [ "$server" = wine ] && search=(--all --pid "$kesmar_pid" --onlyvisible --name '^Tarvolin')
    win=""
    for _ in $(seq 200); do
        for w in $(timeout 5 xdotool search "${search[@]}" 2>/dev/null); do
            eval "$(xdotool getwindowgeometry --shell "$w")"
            [ "$WIDTH" = 434 ] && { win=$w; break; }
        done
        [ -n "$win" ] && break
        kill -0 "$kesmar_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$win" ]; then
        echo "kesmar did not show its window:" >&2
        cat "$dir/log" >&2
        exit 1
    fi
    if [ "$server" = wine ]; then
        # The wineserver holds the program's sockets: wait for a listener.
        for _ in $(seq 100); do port_free "$port" || break; sleep 0.1; done
        ! port_free "$port" || return 1
    else
        ss -Htlnp "sport = :$port" | grep -q "pid=$kesmar_pid," || return 1
    fi
    # Let the first paint and the start-up steps settle.
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$win")"
    menu=$((HEIGHT - 383)) # the client area is 383 px high, under the menu bar
}

stop_kesmar() {
    if [ -n "$kesmar_pid" ]; then
        kill "$kesmar_pid" 2>/dev/null || true
        for _ in $(seq 30); do kill -0 "$kesmar_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$kesmar_pid" 2>/dev/null || true
        wait "$kesmar_pid" 2>/dev/null || true
        kesmar_pid=""
    fi
    # The next run listens on the same port.
    for _ in $(seq 50); do port_free "$port" && break; sleep 0.1; done
}

# set_period MS (a multiple of 10): focus the slider with a click, Home takes
# it to 0, PageUp (Qt's slider) or PageDown (the Win32 trackbar) adds 100 and
# Right adds 10.
set_period() {
    xdotool mousemove --window "$win" 280 $((menu + 120)) click 1
    sleep 0.2
    local keys=(Home) page=Prior
    [ "$server" = wine ] && page=Next
    for _ in $(seq $(($1 / 100))); do keys+=("$page"); done
    for _ in $(seq $(($1 % 100 / 10))); do keys+=(Right); done
    # Without a window manager a click does not give a Wine window the
    # keyboard.
    [ "$server" = wine ] && xdotool windowfocus --sync "$win"
    xdotool key --delay 20 "${keys[@]}"
    sleep 0.2
}

# click_at X Y: a click at X, Y of the client area (below the menu bar).
click_at() {
    xdotool mousemove --window "$win" "$1" $((menu + $2)) click 1
    sleep 0.2
}

# "送信" (or "停止").
toggle_send() { click_at 336 48; }
# "イベントを表示しない": hides the Send and Receive lines.
toggle_events() { click_at 300 226; }
# "ダンプする": a hex dump of the block's first bytes per tick.
toggle_dump() { click_at 300 248; }

# Presses the mouse in the log pane and drags up a few lines, selecting them,
# and keeps the button down until release_selection.
hold_selection() {
    xdotool mousemove --window "$win" 200 $((menu + 340)) mousedown 1
    sleep 0.1
    xdotool mousemove --window "$win" 40 $((menu + 280))
    sleep 0.2
}

release_selection() {
    xdotool mouseup 1
}

# tick_stats LOG SKIP: the lateness of each tick inside kesmar, from the
# lines a KESMAR_TICK_TRACE build writes ("tick DUE LATE WAIT BUSY", ns),
# leaving out the first SKIP ticks. A tick over 1 ms late is put down to
# "sched" when the thread sat runnable but not running for at least half its
# lateness (the machine's), to "busy" when the event loop was still at other
# work for at least half of it (the program's, X round trips included), and
# otherwise to "wake": the loop was waiting for the tick and was woken late.
tick_stats() {
    awk -v skip="$2" '$1 == "tick" && ++n > skip { print $3, $4, $5 }' "$1" | sort -n |
        awk '{
            late[++k] = $1 / 1e6
            if ($1 > 1e6) {
                ++over
                if ($2 >= $1 / 2) ++sched; else if ($3 >= $1 / 2) ++busy; else ++wake
            }
        }
        function pct(p,   i) { i = int(p * k + 0.999999); if (i < 1) i = 1; return late[i] }
        END {
            if (k == 0) { printf "%8s %8s %8s %6s %s", "-", "-", "-", "-", "(no trace in this build)"; exit }
            printf "%8.3f %8.3f %8.3f %6d %d/%d/%d", pct(0.5), pct(0.99), late[k], over, sched, busy, wake
        }'
}

field_kib() { # field_kib VmRSS|VmHWM
    awk -v f="$1:" '$1 == f { print $2 }' "/proc/$kesmar_pid/status"
}

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# start_group CMD: runs a shell pipeline in a session of its own, so that
# the whole pipeline can be stopped; prints its id.
start_group() {
    setsid bash -c "$1" >/dev/null 2>&1 &
    group_pids="$group_pids $!"
    last_group=$!
}

stop_group() {
    kill -TERM -- "-$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# bare_row PERIOD SECONDS LABEL [glib]: the bare paced sender's row on
# $base_port, printed and added to $tmp/rows; with glib, the sender waits in
# a glib main loop.
bare_row() {
    local row
    start_group "exec '$client' paced $base_port '$tmp/blob' $1 32768 16384 ${4:-}"
    row="$(run "$client" period "$base_port" "$tmp/blob" "$1" "$2" "$3" "$last_group")"
    printf '%s\n' "$row" | tee -a "$tmp/rows"
    stop_group "$last_group"
    for _ in $(seq 50); do port_free "$base_port" && break; sleep 0.1; done
}
