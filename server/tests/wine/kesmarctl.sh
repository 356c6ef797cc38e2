#!/bin/sh
# kesmarctl.exe working kesmar.exe under Wine. First every command, in the
# order a client's test uses them, each with its exit status and what it did
# to the window and to a connected client: the period set as UI Automation
# sets it takes (the blocks come at it), the panes read back, quit ends the
# program with status 0. Then what fails, each with its status and message,
# and never a hang: misuse (2, with the usage), and (1) no kesmar, two, one
# that has stopped answering, one that ends in the middle of a command.
#   kesmarctl.sh PREFIX KESMAR_EXE KESMARCTL_EXE
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../blackbox.sh"
. "$here/wine.sh"
need Xvfb xdotool python3 ss od timeout pgrep
prefix="$1"
exe="$2"
ctl_exe="$3"
need_exe "$exe" "scripts/build-windows.sh builds it"
need_exe "$ctl_exe" "scripts/build-windows.sh builds it"
need_prefix "$prefix"

start_xvfb
use_prefix "$prefix"

# ctl ARGS...: kesmarctl.exe, its status in st, its output in $work/out and
# $work/err. It must end by itself: its own bounds are 5 s a message and
# 10 s for quit, Wine's start-up apart. Wine hands a program its arguments
# from the locale's encoding.
ctl() {
    st=0
    LC_ALL=C.UTF-8 timeout 40 wine "$ctl_exe" "$@" >"$work/out" 2>"$work/err" || st=$?
    [ "$st" -ne 124 ] || fail "kesmarctl $* has not ended after 40 s"
}
printed() { cat "$work/out"; }
# says TEXT: its standard error holds TEXT.
says() { grep -qF "$1" "$work/err"; }
# prints LINE...: its standard output is these lines.
prints() {
    want="$(printf '%s\n' "$@")"
    [ "$(printed)" = "$want" ]
}
status_is() {
    ctl status
    [ "$st" -eq 0 ] && prints "$@"
}
# The period took: 20 blocks of 9 bytes come within 5 s (at 1000 ms they
# would take 20 s).
blocks_at_period() {
    from="$(received)"
    wait_until 50 at_least $((from + 180))
}
dumped_block() {
    ctl dumps
    printed | grep -qx '0000 : AA 34 12 04' && printed | grep -qx '0001 : 03 02 01 FE'
}
log_lines() {
    for line in '^Accept requestID = 1 -?[0-9]+$' '^Receive 16 -?[0-9]+$' '^Send 9 -?[0-9]+$'; do
        printed | grep -Eq "$line" || return 1
    done
}
log_empty() {
    sleep 0.5 # a line that came would be written into the pane by then
    ctl log
    [ "$st" -eq 0 ] && [ -z "$(printed)" ]
}
usage_shown() { says 'usage: kesmarctl COMMAND' && says 'exit status: 0 done'; }
help_lists_all() {
    for verb in wait status period send dump events clear log dumps quit; do
        printed | grep -q "^  $verb" || return 1
    done
}

# Each row of the table read from standard input: the command, the status
# it ends with, and the check of what it did, run before the next row.
run_rows() {
    while IFS='|' read -r command want check; do
        # shellcheck disable=SC2086 # the words of the command
        ctl $command
        [ "$st" -eq "$want" ] || fail "kesmarctl $command: status $st, not $want: $(cat "$work/err")"
        eval "$check" || fail "kesmarctl $command: not $check (out: $(printed); err: $(cat "$work/err"))"
        echo "kesmarctl $command: status $st, $check"
    done
}

start_kesmar "$exe"
run_rows <<'ROWS'
wait 60|0|titled
ROWS
wait_until 100 listening || fail "kesmar does not listen on 20319"
connect_client 16
run_rows <<'ROWS'
status|0|prints 'period 1000' 'send off' 'dump off' 'events on'
period 50|0|status_is 'period 50' 'send off' 'dump off' 'events on'
send on|0|blocks_at_period
dump on|0|wait_until 20 dumped_block
log|0|log_lines
events off|0|status_is 'period 50' 'send on' 'dump on' 'events off'
clear|0|log_empty
send off|0|stopped_whole 1.5
events on|0|status_is 'period 50' 'send off' 'dump on' 'events on'
dump off|0|status_is 'period 50' 'send off' 'dump off' 'events on'
period 0|0|status_is 'period 0' 'send off' 'dump off' 'events on'
period 1000|0|status_is 'period 1000' 'send off' 'dump off' 'events on'
--help|0|help_lists_all
bogus|2|says "unknown command 'bogus'" && usage_shown
送信|2|says "unknown command '送信'" && usage_shown
|2|says 'no command given' && usage_shown
period 1001|2|says "from 0 to 1000, not '1001'" && usage_shown
period -1|2|says "from 0 to 1000, not '-1'" && usage_shown
send maybe|2|says "expected on or off, not 'maybe'" && usage_shown
status now|2|says 'status takes no argument' && usage_shown
quit|0|ends_with 0 'after kesmarctl quit'
status|1|says 'status: no kesmar window is up'
wait 1|1|says 'wait: no kesmar window came up within 1 s'
ROWS

# Two copies: while the first has a client it does not listen, so a second
# one starts and listens.
run_kesmar "$exe"
connect_client
wait_until 50 not_listening || fail "the first copy still listens with a client"
mkdir "$work/second"
cp "$exe" "$(dirname "$exe")/test.txt" "$work/second/"
(cd "$work/second" && exec wine "$(basename "$exe")" >"$work/second.log" 2>&1) &
second=$!
helpers="$helpers $second"
two_up() {
    [ "$(timeout 5 xdotool search --all --onlyvisible --name '^Tarvolin\(TCP Server\)$' 2>/dev/null |
        wc -l)" -ge 2 ]
}
wait_until 200 two_up || fail "no second window came up"
for beside in status 'wait 5' 'period 10'; do
    # shellcheck disable=SC2086
    ctl $beside
    [ "$st" -eq 1 ] && says 'more than one kesmar window is up (2)' ||
        fail "kesmarctl $beside beside two kesmars: status $st: $(cat "$work/err")"
done
echo "two kesmars: status 1, $(cat "$work/err")"
kill -KILL "$second"
wait "$second" 2>/dev/null || true

# A kesmar that has stopped answering (Wine holds it: SIGSTOP); each message
# waits 5 s, or less once the system counts the program hung.
kill -STOP "$kpid"
ctl status
[ "$st" -eq 1 ] && says 'status: kesmar stopped answering' || fail "stopped kesmar: $st, $(cat "$work/err")"
echo "stopped kesmar: status 1, $(cat "$work/err")"
kill -KILL "$kpid"
ends_with 137 "after SIGKILL"

# A kesmar that ends while a command waits for its answer: it ends a second
# after kesmarctl.exe has started (in this namespace), well before 5 s.
run_kesmar "$exe"
kill -STOP "$kpid"
(
    wait_until 300 pgrep -x --ns $$ --nslist net kesmarctl.exe >/dev/null
    sleep 1
    kill -KILL "$kpid"
) &
helpers="$helpers $!"
ctl status
[ "$st" -eq 1 ] && says "status: kesmar's window went away" ||
    fail "kesmar ending mid-command: $st, $(cat "$work/err")"
echo "kesmar ending mid-command: status 1, $(cat "$work/err")"
ends_with 137 "after SIGKILL"
