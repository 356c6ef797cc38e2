#!/usr/bin/env bash
# Throughput at a 10 ms period with patterns of 64 KiB, 256 KiB, 1 MiB and
# 4 MiB (32-bit records) to a plain client (no socket options, reads as fast
# as it can), with the log pane's event lines shown and hidden; beside it
# socat pushing the same bytes from a file, with its default socket buffers
# and with kesmar's 32768-byte send buffer; and a bare paced sender (no
# window, no event loop: a thread that waits on a timerfd, then sends as
# kesmar does) with kesmar's buffers and 16 KiB pieces, and with the OS's
# default buffers and whole blocks: what this machine allows any paced sender.
#   bench/server/throughput.sh [seconds per run]   (default 10, or $SECONDS_PER_RUN)
# RECORDS="16384 262144" picks some of the patterns (records of 4 bytes).
. "$(dirname "$0")/common.sh"
s="${1:-${SECONDS_PER_RUN:-10}}"
base_port=20321
port_free "$base_port" || { echo "port $base_port is taken" >&2; exit 1; }
start_xvfb
load_note

echo "$s s per run after 1 s not timed; 'plain' reads as fast as it can with no socket options;"
echo "interval = time between the arrivals of successive whole blocks; on time = intervals within"
echo "1 ms of 10 ms; cpu = the sender's CPU time / wall time; 'no events' has"
echo "\"イベントを表示しない\" checked (no Send lines in the log pane)"
printf '%-28s %8s %8s %8s %6s %8s %8s %8s %8s %7s %6s\n' source block "MB/s" "blocks/s" asked \
    "iv p1" "iv p50" "iv p99" "iv max" "on time" "cpu %"
for records in ${RECORDS:-16384 65536 262144 1048576}; do
    d="$tmp/p$records"
    mkdir -p "$d"
    "$client" pattern "$records" "$d"
    for mode in plain "plain, no events"; do
        start_kesmar "$d"
        set_period 10
        [ "$mode" = "plain, no events" ] && toggle_events
        toggle_send
        run "$client" throughput "$port" "$d/blob" 10 "$s" "kesmar, $mode" "$kesmar_pid"
        stop_kesmar
    done

    for opts in "32768 16384" "0 $((records * 4))"; do
        start_group "exec '$client' paced $base_port '$d/blob' 10 $opts"
        label="bare paced, 32 KiB buffer"
        [ "${opts%% *}" = 0 ] && label="bare paced, default buffers"
        run "$client" throughput "$base_port" "$d/blob" 10 "$s" "$label"
        stop_group "$last_group"
        for _ in $(seq 50); do port_free "$base_port" && break; sleep 0.1; done
    done

    # A file of whole copies, at least 64 MiB, read in a loop so it never ends.
    reps=$(( (64 * 1024 * 1024 + records * 4 - 1) / (records * 4) ))
    for _ in $(seq "$reps"); do cat "$d/blob"; done >"$d/big"
    for opts in "" ",sndbuf=32768"; do
        start_group "while :; do cat '$d/big'; done | socat -u -b 1048576 - TCP-LISTEN:$base_port,reuseaddr$opts"
        run "$client" throughput "$base_port" "$d/blob" 0 "$s" "socat${opts:+ sndbuf 32768}, plain"
        stop_group "$last_group"
        for _ in $(seq 50); do port_free "$base_port" && break; sleep 0.1; done
    done
    rm -f "$d/big"
done
load_note
