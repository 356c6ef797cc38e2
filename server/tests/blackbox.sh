# Sourced by the tests that drive the real program from outside, the Linux
# binary (e2e/) and kesmar.exe under Wine (wine/, which sources wine.sh
# after it): a private X display, the program on it with its exit status
# recorded, its window and controls, a client, the start-up that cannot go
# on, and the cleanup of everything they started. wine.sh redefines
# start_kesmar and platform_cleanup. POSIX sh, under set -eu.

work="$(mktemp -d)"
xpid=""
kpid=""
helpers=""

# What the platform started beside the program, ended before the display.
platform_cleanup() { :; }

cleanup() {
    for p in $kpid $helpers; do
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    platform_cleanup
    if [ -n "$xpid" ]; then
        kill "$xpid" 2>/dev/null || true
        wait "$xpid" 2>/dev/null || true
    fi
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

# Xvfb on a display of its own, which it takes through the lock file in
# /tmp that every X server on the machine honours. Left to pick a free one
# itself (-displayfd), each test in a network namespace of its own (netns.sh)
# would find display 0 free, as it sees none of the others' sockets, and
# they would share its socket file and compiled keymap. It serves once its
# socket is listed. It never resets: by default Xvfb resets whenever its last
# client leaves, and one of the harness's short-lived xdotool searches
# leaving just as the program connects would take the display from under it.
start_xvfb() {
    xdisplay=$(($$ % 500 + 100))
    while :; do
        Xvfb ":$xdisplay" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
        xpid=$!
        wait_until 100 xvfb_settled || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
        grep -q 'already active' "$work/xvfb.log" || break
        wait "$xpid" || true
        [ "$xdisplay" -lt 700 ] || fail "no free display up to :$xdisplay"
        xdisplay=$((xdisplay + 1))
    done
    DISPLAY=":$xdisplay"
    export DISPLAY
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}
xvfb_settled() {
    grep -q "/.X11-unix/X$xdisplay\$" /proc/net/unix || grep -qs 'already active' "$work/xvfb.log"
}

# launch DIR COMMAND...: starts the program, COMMAND run in DIR, and sets
# kpid. A watcher records its exit status, so that the end is seen without
# racing the shell's own reaping of children.
launch() {
    rm -f "$work/kesmar.pid" "$work/status"
    (
        cd "$1" || exit
        shift
        "$@" >"$work/kesmar.log" 2>&1 &
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

# start_kesmar PROGRAM: the Linux binary, started as it lies.
start_kesmar() {
    launch . "$1"
}

running() {
    [ ! -e "$work/status" ]
}

# ends_with STATUS WHEN: waits at most 5 s for the program to end, and
# fails unless it ended with STATUS.
ends_with() {
    wait_until 50 test -e "$work/status" || fail "still running $2"
    status="$(cat "$work/status")"
    kpid=""
    [ "$status" -eq "$1" ] || fail "exit status $status $2"
}

listening() {
    [ -n "$(ss -Hltn 'sport = :20319')" ]
}
not_listening() { ! listening; }

# The main window and the box of a start-up that cannot go on carry one
# title. Wine also makes windows for the input method under the same
# process; and once in a while a search never gets its answer while Wine
# is making its windows: such a one is given up and the next one tried.
titled() {
    win="$(timeout 5 xdotool search --all --pid "$kpid" --onlyvisible \
        --name '^Tarvolin\(TCP Server\)$' 2>/dev/null | head -n1)"
    [ -n "$win" ]
}

# Sets win, X, Y, WIDTH, HEIGHT and menu (the menu bar's height) for the
# program's window on the screen.
find_window() {
    wait_until 200 titled || fail "no window named Tarvolin(TCP Server) appeared"
    eval "$(xdotool getwindowgeometry --shell "$win")"
    menu=$((HEIGHT - 383)) # the client area is 383 high, under the menu bar
}

# run_kesmar PROGRAM: starts it and returns once its main window is there
# and it listens.
run_kesmar() {
    start_kesmar "$1"
    find_window
    [ "$WIDTH" -eq 434 ] || fail "the window is $WIDTH wide, not 434"
    wait_until 100 listening || fail "kesmar does not listen on 20319"
}

# click_at X Y: in the client area. Places are those of the window's table,
# in pixels at 96 dpi from the client area's corner; the program's X window
# holds the menu bar above the client area, and a window manager (there is
# none) would draw the frame.
click_at() {
    xdotool mousemove --window "$win" "$1" $((menu + $2)) click 1
    sleep 0.2
}

# pane_text X Y: all the text of the pane at that place, through the
# clipboard as a user would copy it.
pane_text() {
    click_at "$1" "$2"
    xdotool key ctrl+a ctrl+c
    sleep 0.3
    xclip -o -selection clipboard -t UTF8_STRING | tr -d '\r'
}

# connect_client [N]: a client that sends the bytes 0 to N-1 once connected
# and records every block with the time it came, in ms. It leaves when told
# to (the file "leave" appears), and marks it when the server closes the
# connection first. Gives up after 40 s.
connect_client() {
    rm -f "$work/connected" "$work/closed" "$work/leave"
    : >"$work/received"
    : >"$work/arrivals"
    python3 - "$work" "${1:-0}" <<'PY' &
import os, socket, sys, time
work = sys.argv[1]
out = open(os.path.join(work, "received"), "ab", buffering=0)
times = open(os.path.join(work, "arrivals"), "a", buffering=1)
end = time.time() + 40
s = socket.create_connection(("127.0.0.1", 20319), timeout=5)
s.settimeout(0.05)
s.sendall(bytes(range(int(sys.argv[2]))))
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

# stopped_whole SECONDS: called as sending is switched off. At most a block
# already on its way arrives in SECONDS, and all that came is whole copies
# of the 9-byte pattern, of which it sets blocks to the count.
stopped_whole() {
    stopped="$(received)"
    sleep "$1"
    late=$(($(received) - stopped))
    [ "$late" -le 9 ] || fail "$late bytes arrived after switching sending off"
    total="$(received)"
    [ $((total % 9)) -eq 0 ] || fail "received $total bytes, not whole blocks"
    got="$(od -An -v -tx1 "$work/received" | tr -d ' \n')"
    want=""
    blocks=0
    while [ "$blocks" -lt $((total / 9)) ]; do
        want="${want}aa341204030201feff"
        blocks=$((blocks + 1))
    done
    [ "$got" = "$want" ] || fail "received $got"
}

# startup_failures PROGRAM: a copy of it with a bad test.txt, then with port
# 20319 held by another program. Each time a box reports the message, the
# main window never shows, nothing listens while a bad test.txt is
# reported, the message is in the program's output, and once the box is
# dismissed the program ends with status 1.
startup_failures() {
    mkdir "$work/app"
    cp "$1" "$work/app/"
    printf 'sync,0,0,8,170\r\nodd,0,0,12,1\r\n' >"$work/app/test.txt"
    fails_to_start "$work/app/$(basename "$1")" "bad test.txt" \
        "line 2: bit width 12 is not 8, 16 or 32" free

    cp "$(dirname "$1")/test.txt" "$work/app/test.txt"
    python3 - "$work/held" <<'PY' &
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 20319))
s.listen(1)
open(sys.argv[1], "w").close()
time.sleep(30)
PY
    helpers="$helpers $!"
    wait_until 50 test -e "$work/held" || fail "could not hold port 20319"
    fails_to_start "$work/app/$(basename "$1")" "port taken" "20319"
}

# fails_to_start PROGRAM NAME MESSAGE [free]
fails_to_start() {
    start_kesmar "$1"
    find_window
    [ "$WIDTH" -ne 434 ] || fail "$2: the main window showed"
    running || fail "$2: ended before the box was dismissed"
    if [ "${4:-}" = free ]; then
        ! listening || fail "$2: listening on 20319"
    fi
    xdotool windowfocus --sync "$win" key Return
    ends_with 1 "($2)"
    said="$(grep -F "$3" "$work/kesmar.log" | head -n1)"
    [ -n "$said" ] || fail "$2: no \"$3\" in its output"
    printf '%s: "%s" in a %sx%s box, exit status 1\n' "$2" "$said" "$WIDTH" "$HEIGHT"
}
