#!/usr/bin/env bash
# Period accuracy seen by a loopback client, at 10 ms and 100 ms, with the
# 9-byte sample pattern, with the log pane's event lines shown (the default)
# and hidden; beside it a shell loop (printf; sleep) fed to socat.
#   bench/server/period.sh [seconds per run]     (default 30, or $SECONDS_PER_RUN)
. "$(dirname "$0")/common.sh"
s="${1:-${SECONDS_PER_RUN:-30}}"
base_port=20320
port_free "$base_port" || { echo "port $base_port is taken" >&2; exit 1; }

"$client" sample "$tmp"
start_xvfb
load_note
esc="$(od -An -to1 -v "$tmp/blob" | tr -s ' ' | sed 's/ /\\/g' | tr -d '\n')"

echo "$s s per run after 1 s not timed; interval = time between the arrivals of successive"
echo "whole blocks; err = |interval - period|; drift = (last - first arrival) - (blocks - 1) x period;"
echo "'no events' has \"イベントを表示しない\" checked (no Send line per tick in the log pane)"
printf '%-20s %6s %7s %10s %8s %8s %8s %8s %10s %5s\n' source "period" blocks "mean err" "err %" \
    "p50 ms" "p99 ms" "max ms" "drift ms" "cpu %"
for p in 10 100; do
    for events in shown hidden; do
        start_kesmar "$tmp"
        set_period "$p"
        [ "$events" = hidden ] && toggle_events
        toggle_send
        label=kesmar
        [ "$events" = hidden ] && label="kesmar, no events"
        run "$client" period "$port" "$tmp/blob" "$p" "$s" "$label" "$kesmar_pid"
        stop_kesmar
    done

    sl="$(awk -v p="$p" 'BEGIN { printf "%g", p / 1000 }')"
    start_group "while :; do printf '$esc'; sleep $sl; done | socat - TCP-LISTEN:$base_port,reuseaddr"
    run "$client" period "$base_port" "$tmp/blob" "$p" "$s" "sleep loop + socat"
    stop_group "$last_group"
done
load_note
