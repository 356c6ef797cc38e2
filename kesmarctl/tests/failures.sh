#!/bin/sh
# What kesmarctl does when it cannot do what it is asked: each case ends with
# its exit status and one line naming what went wrong (2 with the usage for
# a misuse), and none waits on: no accessibility bus, a misused command, no
# kesmar, two of them, one stopped, one that ends in the middle of a command.
#   failures.sh KESMAR_BINARY KESMARCTL_BINARY
set -eu
here="$(dirname "$0")"
. "$here/../../server/tests/blackbox.sh"
. "$here/session.sh"
need Xvfb xdotool python3 ss setsid
bin="$1"
kesmarctl="$2"

# Each kesmar in a session of its own: one stopped in the script's process
# group would be sent SIGHUP by the kernel if that group were left orphaned
# (a test run in the background, say) and some process of it ended.
start_kesmar() {
    launch . setsid "$1"
}

# expect STATUS PATTERN ARGS...: kesmarctl ARGS ends with STATUS, and the
# first line on stderr matches PATTERN; with 1, it is the only line.
expect() {
    want="$1"
    pattern="$2"
    shift 2
    ctl "$@"
    [ "$st" -eq "$want" ] || fail "kesmarctl $*: exit status $st, not $want: $err"
    printf '%s\n' "$err" | head -n1 | grep -Eq "$pattern" || fail "kesmarctl $*: said: $err"
    case "$want" in
    1) [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "kesmarctl $*: more than a line: $err" ;;
    2) printf '%s\n' "$err" | grep -q '^usage: kesmarctl' || fail "kesmarctl $*: no usage: $err" ;;
    esac
    echo "ok: kesmarctl $*: $(printf '%s\n' "$err" | head -n1)"
}

# Misuse is found before anything is looked at: these run where there is no
# bus at all, and still end with 2.
start_xvfb
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
while IFS='|' read -r pattern args; do
    # shellcheck disable=SC2086 # the command's words
    expect 2 "$pattern" $args
done <<'ROWS'
no command given|
unknown command 'frobnicate'|frobnicate
unknown command 'Status'|Status
the period is whole milliseconds from 0 to 1000, not '1001'|period 1001
not '-1'|period -1
not '10ms'|period 10ms
not '1e3'|period 1e3
period takes the argument of|period
expected on or off, not 'ON'|send ON
expected on or off, not 'onn'|dump onn
expected on or off, not '1'|events 1
status takes no argument|status now
wait takes whole seconds|wait soon
ROWS
(
    unset DISPLAY
    expect 1 "^kesmarctl: status: cannot reach the accessibility bus" status
)

start_session "$kesmarctl"
expect 1 "^kesmarctl: status: no kesmar window is up$" status
expect 1 "^kesmarctl: wait: no kesmar window came up within 1 s$" wait 1

# A second copy while the first listens shows only its fatal-error box,
# which bears the same title: still one kesmar window.
run_kesmar "$bin"
first="$kpid"
start_kesmar "$bin"
second="$kpid"
find_window
[ "$WIDTH" -ne 434 ] || fail "the second copy showed its main window"
sleep 1 # for the box to be on the accessibility bus too
expect 0 "^$" status
kill "$second"
wait_until 50 test -e "$work/status" || fail "the second copy did not end"

# While the first has a client it does not listen, and a second copy does:
# once the first has closed its listener, a moment after the accept.
connect_client
wait_until 50 not_listening || fail "the first copy still listens with a client"
start_kesmar "$bin"
second="$kpid"
find_window
[ "$WIDTH" -eq 434 ] || fail "the second copy showed no main window"
both_seen() {
    ctl status
    [ "$st" -ne 0 ]
}
wait_until 50 both_seen || fail "kesmarctl never saw the second window"
expect 1 "more than one kesmar window is up \(2\)" status
kill "$second"
wait_until 50 test -e "$work/status" || fail "the second copy did not end"
kpid="$first"
touch "$work/leave"

# Stopped, it answers nothing; killed while a command waits on it, the
# command learns of it at once.
kill -STOP "$kpid"
expect 1 "^kesmarctl: status: no kesmar window found; .*pid $kpid \(kesmar\) stopped answering" status
timeout 20 "$kesmarctl" log </dev/null >"$work/out" 2>"$work/err" &
waiting=$!
sleep 0.5
kill -KILL "$kpid"
st=0
wait "$waiting" || st=$?
[ "$st" -eq 1 ] || fail "kesmarctl log: exit status $st when kesmar was killed under it"
grep -Eq "^kesmarctl: log: no kesmar window is up; pid $kpid \(kesmar\) ended" "$work/err" ||
    fail "kesmarctl log said: $(cat "$work/err")"
echo "ok: kesmarctl log, kesmar killed under it: $(cat "$work/err")"
# Its status is written by a watcher of its own, which must be done before
# the next kesmar's watcher takes the file.
wait_until 50 test -e "$work/status" || fail "the killed kesmar was not reaped"
kpid=""

# Commands one after another while kesmar ends by its menu: each one either
# did its work or says in a line why not.
run_kesmar "$bin"
ctl send on
(sleep 1 && "$kesmarctl" quit) </dev/null >/dev/null 2>&1 &
helpers="$helpers $!"
n=0
while running; do
    for verb in status log dumps "period 500" "dump on" "events off"; do
        # shellcheck disable=SC2086 # the command's words
        ctl $verb
        case "$st" in
        0) ;;
        1) [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "kesmarctl $verb: $err" ;;
        *) fail "kesmarctl $verb: exit status $st while kesmar ended: $err" ;;
        esac
        n=$((n + 1))
    done
done
ends_with 0 "after quit"
echo "ok: $n commands while kesmar ended, each done or one line: last said: ${err:-nothing}"
