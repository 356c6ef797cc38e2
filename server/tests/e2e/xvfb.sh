# Sourced by the scripts beside it: a private X display, the real program on
# it, and the cleanup of everything they started. POSIX sh, under set -eu.

work="$(mktemp -d)"
xpid=""
kpid=""
helpers=""

cleanup() {
    for p in $kpid $helpers $xpid; do
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 2' INT TERM HUP

# Exits with 77, which ctest reports as skipped, when a tool is missing.
need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || {
            echo "skipped: $tool is not installed"
            exit 77
        }
    done
}

# wait_until TENTHS COMMAND...: retries COMMAND ten times a second.
wait_until() {
    tries="$1"
    shift
    while [ "$tries" -gt 0 ]; do
        "$@" && return 0
        tries=$((tries - 1))
        sleep 0.1
    done
    return 1
}

fail() {
    echo "FAIL: $*"
    if [ -s "$work/kesmar.log" ]; then
        echo "--- kesmar's output:"
        tail -n 40 "$work/kesmar.log"
    fi
    exit 1
}

# Xvfb picks a free display itself and writes its number when it is ready,
# so parallel runs never collide.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xpid=$!
    wait_until 100 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}

# start_kesmar BINARY: runs it as a user would, from where it lies. A
# watcher records its exit status, so that the end is seen without racing
# the shell's own reaping of children.
start_kesmar() {
    rm -f "$work/kesmar.pid" "$work/status"
    (
        "$1" >"$work/kesmar.log" 2>&1 &
        echo $! >"$work/kesmar.pid"
        st=0
        wait $! || st=$?
        echo "$st" >"$work/status.tmp"
        mv "$work/status.tmp" "$work/status"
    ) &
    helpers="$helpers $!"
    wait_until 50 test -s "$work/kesmar.pid" || fail "kesmar did not start"
    kpid="$(cat "$work/kesmar.pid")"
}

visible_window() {
    win="$(xdotool search --onlyvisible --name '^Tarvolin\(TCP Server\)$' 2>/dev/null | head -n1)"
    [ -n "$win" ]
}

# Sets win, WIDTH, HEIGHT and menu (the menu bar's height) for the
# program's visible top-level window.
find_window() {
    win=""
    wait_until 100 visible_window || fail "no window named Tarvolin(TCP Server) appeared"
    eval "$(xdotool getwindowgeometry --shell "$win")"
    menu=$((HEIGHT - 383)) # the client area is 383 high, under the menu bar
}

running() {
    [ ! -e "$work/status" ]
}

# Waits at most 5 s for the program to end and sets status to its exit status.
wait_for_exit() {
    wait_until 50 test -e "$work/status" || fail "still running"
    status="$(cat "$work/status")"
    kpid=""
}
