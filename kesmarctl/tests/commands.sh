#!/bin/sh
# Every command of kesmarctl against the real kesmar, started plainly under
# Xvfb on a session with the accessibility bus (session.sh). One table, in
# the order a client's test would use them: each row gives the exit status
# the command must end with, and a check of what it did, seen in the window,
# in the panes or over the wire by a connected client.
#   commands.sh KESMAR_BINARY KESMARCTL_BINARY
set -eu
here="$(dirname "$0")"
. "$here/../../server/tests/blackbox.sh"
. "$here/session.sh"
need Xvfb xdotool python3 od ss

start_xvfb
start_session "$2"
run_kesmar "$1"
connect_client

# The checks, each against what the command just did.
has() { printf '%s\n' "$out" | grep -q "$1"; }
lacks() { ! printf '%s\n' "$out" | grep -q "$1"; }
is() { [ "$out" = "$(printf '%s\n' "$@")" ]; }
status_has() {
    ctl status
    has "^$1\$" || fail "status says: $out"
}
every_command_listed() {
    for verb in wait status period send dump events clear log dumps quit; do
        has "^  $verb" || return 1
    done
}
# At 1000 ms, two seconds bring three blocks at most.
blocks_come_fast() {
    wait_until 20 at_least 9 || return 1
    from="$(received)"
    sleep 2
    [ $(($(received) - from)) -ge 90 ] || fail "$(($(received) - from)) bytes in 2 s at 10 ms"
}
# The log read again later, once events shown or hidden have had time to
# add lines or not.
log_later() {
    sleep 0.5
    ctl log
}
ended_closed() {
    ends_with 0 "after quit"
    wait_until 50 test -e "$work/closed" || fail "the client's connection was not closed"
}

while IFS='|' read -r want args check; do
    # shellcheck disable=SC2086 # the command's words
    ctl $args
    [ "$st" -eq "$want" ] || fail "kesmarctl $args: exit status $st, not $want: $err"
    eval "$check" || fail "kesmarctl $args: not so: $check; said: $out$err"
    echo "ok: kesmarctl $args"
done <<'ROWS'
0|--help|every_command_listed
0|wait 20|titled
0|status|is "period 1000" "send off" "dump off" "events on"
0|period 10|status_has "period 10"
0|send on|blocks_come_fast && status_has "send on"
0|log|has "^Accept requestID = 1 [0-9-]*$" && has "^Send 9 [0-9-]*$"
0|dump on|sleep 0.3; ctl dumps; has "^0000 : AA 34 12 04$" && has "^0001 : 03 02 01 FE$"
0|events off|status_has "events off"
0|clear|log_later; lacks "^Send " && ctl dumps && has "^0000 : AA 34 12 04$"
0|events on|log_later; has "^Send 9 "
0|dump off|ctl clear; sleep 0.3; ctl dumps; [ -z "$out" ]
0|send off|stopped_whole 1
0|period 0|status_has "period 0"
0|period 1000|status_has "period 1000"
0|quit|ended_closed
1|status|[ "$err" = "kesmarctl: status: no kesmar window is up" ]
ROWS
echo "received $blocks copies of the pattern"
