#!/usr/bin/env bash
# CPU and client p99 at 10 ms with the 9-byte sample, paired: the kesmar of
# BEFORE (another build directory) and the kesmar of BUILD, then the bare
# paced sender, ROUNDS times in turn, so that the machine's own drift over
# minutes falls on all three alike; at the end the medians, and each
# kesmar's against the bare sender's. GLIB=1 adds, each round, the same
# sender waiting in a glib main loop: the floor of a program that waits
# where Qt's front end waits.
#   BEFORE=dir [BUILD=dir] [MODE=shown|hidden|dumps] [ROUNDS=5] [GLIB=1] bench/server/pair.sh [seconds]
. "$(dirname "$0")/common.sh"
s="${1:-15}"
mode="${MODE:-shown}"
base_port=20320
before_bin="$(cd "${BEFORE:?BEFORE=dir: a build of the commit to compare with}" && pwd)/bin/kesmar"
[ -x "$before_bin" ] || { echo "no $before_bin" >&2; exit 1; }
after_bin="$kesmar_bin"
port_free "$base_port" || { echo "port $base_port is taken" >&2; exit 1; }

"$client" sample "$tmp"
start_xvfb
load_note
echo "mode $mode, $s s per run; cpu % of a core (every thread, ns from the scheduler)"
: >"$tmp/rows"
for r in $(seq "${ROUNDS:-5}"); do
    for which in before after; do
        [ "$which" = before ] && kesmar_bin="$before_bin" || kesmar_bin="$after_bin"
        start_kesmar "$tmp"
        set_period 10
        case $mode in
        hidden) toggle_events ;;
        dumps) toggle_dump ;;
        esac
        toggle_send
        run "$client" period "$port" "$tmp/blob" 10 "$s" "$which" "$kesmar_pid" | tee -a "$tmp/rows"
        stop_kesmar
    done
    bare_row 10 "$s" bare
    [ -z "${GLIB:-}" ] || bare_row 10 "$s" glib glib
done
# Columns: label, period, blocks, mean err, err %, p50, p99, max, drift, cpu.
awk '
    { cpu[$1] = cpu[$1] " " $10; p99[$1] = p99[$1] " " $7 }
    function median(list,   v, n, i, j, t) {
        n = split(list, v, " ")
        for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    END {
        b = median(cpu["bare"])
        printf "\nmedians: cpu %%, p99 ms, cpu against the bare sender (%.2f %%)\n", b
        for (k = 1; k <= 3; k++) {
            w = k == 1 ? "before" : k == 2 ? "after" : "glib"
            if (!(w in cpu)) continue
            printf "%-7s %6.2f %7.3f %6.2f\n", w, median(cpu[w]), median(p99[w]), median(cpu[w]) / b
        }
    }' "$tmp/rows"
load_note
