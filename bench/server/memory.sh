#!/usr/bin/env bash
# kesmar's memory at a 10 ms period with a 64 KiB pattern (dumps off, events
# shown): with a client that connects and never reads, and with one that
# floods the server while reading what it sends. RSS is sampled every second.
#   bench/server/memory.sh [idle seconds] [flood seconds]
#   (defaults 60 and 30, or $IDLE_SECONDS and $FLOOD_SECONDS)
. "$(dirname "$0")/common.sh"
idle_s="${1:-${IDLE_SECONDS:-60}}"
flood_s="${2:-${FLOOD_SECONDS:-30}}"
start_xvfb
load_note
"$client" pattern 16384 "$tmp"

# measure NAME SECONDS CLIENT-ARGS...: RSS before the client, then each second.
measure() {
    local name="$1" secs="$2" samples=() i
    shift 2
    start_kesmar "$tmp"
    set_period 10
    toggle_send
    sleep 1
    local before; before="$(field_kib VmRSS)"
    "$client" "$@" >"$tmp/client.out" &
    local cpid=$!
    child_pids="$child_pids $cpid"
    for i in $(seq "$secs"); do
        sleep 1
        samples+=("$(field_kib VmRSS)")
    done
    wait "$cpid"
    local hwm; hwm="$(field_kib VmHWM)"
    local every="" step=$(( secs >= 20 ? 10 : 1 ))
    for ((i = step - 1; i < secs; i += step)); do every+=" $(mib "${samples[i]}")"; done
    local half=$(( secs / 2 )) last=$(( secs - 1 ))
    local slope; slope="$(awk -v a="${samples[half]}" -v b="${samples[last]}" -v n=$((last - half)) \
        'BEGIN { if (n > 0) printf "%+.2f", (b - a) / 1024 / n; else print "-" }')"
    printf '%-14s %4s %10s %11s  %s\n' "$name" "$secs" "$(mib "$before")" "$(mib "$hwm")" \
        "$slope   |$every"
    sed 's/^/    /' "$tmp/client.out"
    stop_kesmar
}

echo "RSS in MiB; 'before' = sending on, no client yet; growth = MiB/s over the second half"
printf '%-14s %4s %10s %11s  %s\n' client "s" "RSS before" "peak VmHWM" "growth | RSS every $([ "$idle_s" -ge 20 ] && echo 10 || echo 1) s"
# Each client outlasts the last sample (a second of sampling takes a little
# more than a second), so none is taken as it leaves.
measure "never reads" "$idle_s" idle "$port" $((idle_s + 5))
measure "floods" "$flood_s" flood "$port" "$tmp/blob" 10 $((flood_s + 5))
load_note
