#!/usr/bin/env bash
# How long each kesmarctl command takes against a running kesmar, from start
# to exit as a CI script sees it: median, fastest and slowest of RUNS runs
# (default 21). kesmar runs under an Xvfb of its own in a D-Bus session of
# its own, with a client connected and sending on at 100 ms, events shown;
# on/off commands alternate so that each run changes something. Then "log"
# and "dumps" on full panes (30,000 lines, filled at a period of 1 ms), and
# "quit" on a fresh kesmar each time (5 runs), its end included.
#   bench/kesmarctl.sh [RUNS]
. "$(dirname "${BASH_SOURCE[0]}")/server/common.sh"
runs="${1:-${RUNS:-21}}"
cmake --build "$build" -j2 --target kesmarctl >/dev/null
ctl="$build/bin/kesmarctl"
command -v dbus-daemon >/dev/null || { echo "missing: dbus-daemon" >&2; exit 1; }

# The session: kesmar and kesmarctl meet on its accessibility bus, which
# D-Bus starts when first asked. Nothing turns Qt's accessibility on.
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_ACCESSIBILITY AT_SPI_BUS_ADDRESS
export XDG_RUNTIME_DIR="$tmp/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
dbus-daemon --session --nofork --address="unix:path=$tmp/bus" >/dev/null 2>&1 &
child_pids="$child_pids $!"
for _ in $(seq 50); do [ -S "$tmp/bus" ] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/bus"
start_xvfb
load_note

# timed NAME ARGS...: one run of kesmarctl ARGS, its time kept under NAME.
timed() {
    local name="$1" t0 t1
    shift
    t0=$EPOCHREALTIME
    "$ctl" "$@" >/dev/null || { echo "kesmarctl $* failed" >&2; exit 1; }
    t1=$EPOCHREALTIME
    echo "$name $t0 $t1" >>"$tmp/times"
}

start_kesmar "$root/server"
"$ctl" wait 30
start_group "exec socat -u TCP:127.0.0.1:$port /dev/null"
"$ctl" period 100
"$ctl" send on
for i in $(seq "$runs"); do
    on=$((i % 2))
    timed "--help" --help
    timed "wait" wait
    timed "status" status
    timed "period" period $((100 + 10 * on))
    for verb in send dump events; do
        if [ "$on" = 1 ]; then timed "$verb off" "$verb" off; else timed "$verb on" "$verb" on; fi
    done
    timed "clear" clear
    timed "log" log
    timed "dumps" dumps
done

# Full panes: dumps on, a block a millisecond until the log holds its bound.
"$ctl" events on
"$ctl" dump on
"$ctl" send on
"$ctl" period 1
for _ in $(seq 60); do
    [ "$("$ctl" log | wc -l)" -ge 30000 ] && break
    sleep 1
done
"$ctl" send off
lines="$("$ctl" log | wc -l)"
for _ in $(seq "$runs"); do
    timed "log, full pane" log
    timed "dumps, full pane" dumps
done
stop_group "$last_group"
stop_kesmar

for _ in 1 2 3 4 5; do
    start_kesmar "$root/server"
    "$ctl" wait 30
    timed "quit" quit
    wait "$kesmar_pid" 2>/dev/null || true
    kesmar_pid=""
done
load_note

echo "kesmarctl, ms from start to exit; the full log pane held $lines lines"
printf '%-18s %5s %8s %8s %8s\n' command runs median min max
awk '{ n = NF; name = $1; for (i = 2; i < n - 1; i++) name = name " " $i
           printf "%s\t%.3f\n", name, ($n - $(n - 1)) * 1000 }' "$tmp/times" |
    sort -t "$(printf '\t')" -k1,1 -k2,2n |
    awk -F '\t' '{ v[$1, ++k[$1]] = $2; if (!($1 in seen)) { seen[$1] = 1; order[++m] = $1 } }
        END { for (j = 1; j <= m; j++) { c = order[j]; n = k[c]
              printf "%-18s %5d %8.1f %8.1f %8.1f\n", c, n, v[c, int((n + 1) / 2)], v[c, 1], v[c, n] } }'
