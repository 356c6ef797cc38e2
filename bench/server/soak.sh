#!/usr/bin/env bash
# A long run at 10 ms with the sample pattern, "ダンプする" checked and events
# shown; a client that reads for 10 s and one that floods for 10 s, in turn.
#   bench/server/soak.sh [seconds]   (default 600, or $SOAK_SECONDS)
. "$(dirname "$0")/common.sh"
total="${1:-${SOAK_SECONDS:-600}}"
start_xvfb
load_note
"$client" sample "$tmp"
start_kesmar "$tmp"
set_period 10
# "ダンプする" sits at (288..369, 240..257) of the client area.
xdotool mousemove --window "$win" 300 $((menu + 248)) click 1
sleep 0.2
toggle_send

echo "a 'reads' row: period ms, blocks, mean err ms, err %, p50/p99/max |interval - period| ms,"
echo "drift ms, kesmar's cpu %; a flooding row says what it sent and what it got"
printf '%6s %8s  %s\n' "t s" "RSS MiB" "client"
start=$SECONDS turn=0
while (( SECONDS - start < total )); do
    if (( turn % 2 == 0 )); then
        run "$client" period "$port" "$tmp/blob" 10 9 reads "$kesmar_pid" >"$tmp/out"
    else
        run "$client" flood "$port" "$tmp/blob" 10 10 >"$tmp/out"
    fi
    turn=$((turn + 1))
    sleep 0.2
    printf '%6d %8s  %s\n' $((SECONDS - start)) "$(mib "$(field_kib VmRSS)")" "$(cat "$tmp/out")"
done
echo "peak (VmHWM) $(mib "$(field_kib VmHWM)") MiB"
load_note
