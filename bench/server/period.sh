#!/usr/bin/env bash
# Period accuracy seen by a loopback client, with the 9-byte sample pattern:
# the log pane's event lines shown (the default) and hidden, dumps on, and a
# selection held in the log pane; beside it a shell loop (printf; sleep) fed
# to socat, a bare timerfd loop's own lateness, and a bare paced sender (a
# timerfd loop that sends as kesmar does, with no window): the machine's floor.
# With a kesmar built with -DKESMAR_TICK_TRACE=ON (BUILD=dir) each row also
# gives the ticks' lateness inside the program. cpu % is the whole process's
# (every thread's time on a CPU over the timed span, in ns from the
# scheduler), kesmar's and the bare sender's alike. The bare sender runs
# before kesmar's rows and again after them, as the machine's own pace moves
# over minutes; at the end each kesmar row is set against the mean of those
# two, with the aims.
#   bench/server/period.sh [seconds per run]     (default 30, or $SECONDS_PER_RUN)
# PERIODS="10" picks the periods (default "10 100"), MODES="shown" the kesmar rows
# (default "shown hidden dumps selection").
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
echo "'no events' has \"イベントを表示しない\" checked (no Send line per tick in the log pane);"
echo "'dumps' has \"ダンプする\" checked; 'selection held' drags over the log pane and keeps the"
echo "button down. in-process: each tick's lateness from its due time to SendData (all ticks"
echo "but the first 150); late = ticks over 1 ms late, split sched/busy/wake (see common.sh)"
printf '%-20s %6s %7s %10s %8s %8s %8s %8s %10s %6s | %8s %8s %8s %6s %s\n' source "period" \
    blocks "mean err" "err %" "p50 ms" "p99 ms" "max ms" "drift ms" "cpu %" \
    "in p50" "in p99" "in max" "late" "sched/busy/wake"
# ratios PERIOD: each kesmar row of that period against the bare sender's.
ratios() {
    awk -v p="$1" '
        # The label is the first 20 columns; then period, blocks, mean err,
        # err %, p50, p99, max, drift, cpu.
        { label = substr($0, 1, 20); sub(/ +$/, "", label); split(substr($0, 21), f, " ") }
        f[1] != p || f[3] == "few" { next }
        label ~ /^bare paced sender/ { nb++; bc[nb] = f[9]; bp[nb] = f[6]; next }
        label ~ /^kesmar/ { n++; l[n] = label; cpu[n] = f[9]; p99[n] = f[6] }
        function ratio(a, b) { return (b > 0 && a != "-") ? sprintf("%.2f", a / b) : "-" }
        END {
            if (nb == 0) exit
            for (i = 1; i <= nb; i++) { bcpu += bc[i] / nb; bp99 += bp[i] / nb; runs = runs sep bc[i]; sep = ", " }
            bcpu = sprintf("%.2f", bcpu); bp99 = sprintf("%.3f", bp99)
            printf "\nagainst the bare paced sender at %s ms (cpu %s %%, the mean of %s; p99 %s ms):\n", p, bcpu, runs, bp99
            printf "%-20s %8s %9s %6s %9s %9s %6s\n", "source", "cpu %", "cpu ratio", "aim", "p99 ms", "p99 ratio", "aim"
            for (i = 1; i <= n; i++) {
                aim = l[i] ~ /no events/ ? "1.25" : l[i] ~ /dumps/ ? "3" : l[i] ~ /selection/ ? "-" : "2"
                paim = (l[i] ~ /dumps|selection/) ? "1.25" : "-"
                printf "%-20s %8s %9s %6s %9s %9s %6s\n", l[i], cpu[i], ratio(cpu[i], bcpu), aim,
                    p99[i], ratio(p99[i], bp99), paim
            }
        }' "$tmp/rows"
}

: >"$tmp/rows"
for p in ${PERIODS:-10 100}; do
    # The same wait for a due time in a process that does nothing else, and
    # the client's view of such a process that sends the block as kesmar does.
    run "$client" clock "$p" "$s"
    bare_row "$p" "$s" "bare paced sender 1"
    for mode in ${MODES:-shown hidden dumps selection}; do
        [ "$p" != 10 ] && [ "$mode" != shown ] && [ "$mode" != hidden ] && continue
        start_kesmar "$tmp"
        set_period "$p"
        case $mode in
        hidden) toggle_events; label="kesmar, no events" ;;
        dumps) toggle_dump; label="kesmar, dumps" ;;
        selection) label="kesmar, selection" ;;
        *) label=kesmar ;;
        esac
        toggle_send
        [ "$mode" = selection ] && hold_selection
        row="$(run "$client" period "$port" "$tmp/blob" "$p" "$s" "$label" "$kesmar_pid")"
        [ "$mode" = selection ] && release_selection
        stop_kesmar
        printf '%s | %s\n' "$row" "$(tick_stats "$kesmar_dir/log" 150)"
        printf '%s\n' "$row" >>"$tmp/rows"
    done

    bare_row "$p" "$s" "bare paced sender 2"
    sl="$(awk -v p="$p" 'BEGIN { printf "%g", p / 1000 }')"
    start_group "while :; do printf '$esc'; sleep $sl; done | socat - TCP-LISTEN:$base_port,reuseaddr"
    run "$client" period "$base_port" "$tmp/blob" "$p" "$s" "sleep loop + socat"
    stop_group "$last_group"
done
for p in ${PERIODS:-10 100}; do ratios "$p"; done
load_note
