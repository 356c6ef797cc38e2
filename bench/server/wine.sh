#!/usr/bin/env bash
# kesmar.exe under Wine beside the Linux kesmar and the bare paced sender, in
# one run: the period rows with the 9-byte sample pattern and the throughput
# rows with 64 KiB, 1 MiB and 4 MiB patterns, all at 10 ms, events shown and
# hidden; a flooding client at 100 ms; and the ファイル menu held open at
# 10 ms. Wine is not Windows: it sends through Linux's TCP stack and waits on
# its own timers, so its rows say how the program fares under Wine on this
# machine and nothing about Windows.
# The "sndbuf" table (asked for by name) holds the send buffer as Windows
# would: Linux doubles the 32768 bytes kesmar.exe asks for, where Windows
# holds 32768. It sets kesmar.exe as built beside a build that asks for half
# (KESMAR_SNDBUF_AS_WINDOWS, made in BUILD/windows-sndbuf), and the bare
# paced sender asking for either, at 64 KiB to 4 MiB; each row ends with the
# send buffer the kernel held for the connection (ss -tm).
#   bench/server/wine.sh [seconds per run]   (default 10, or $SECONDS_PER_RUN)
# WINBUILD=dir picks the Windows build (default: build-windows/, which
# scripts/build-windows.sh makes); RECORDS="16384" picks the patterns;
# TABLES="flood menu" picks the tables (default: period throughput flood menu;
# "cpu" adds kesmar.exe with dumps on beside events shown, at 10 ms).
# Run it in a network namespace of its own: the wineserver it starts holds
# the program's sockets, so it must live in that namespace too.
. "$(dirname "$0")/common.sh"
s="${1:-${SECONDS_PER_RUN:-10}}"
base_port=20322
port_free "$base_port" || { echo "port $base_port is taken" >&2; exit 1; }

. "$here/wineenv.sh"

# measured LABEL PERIOD CMD...: runs a client and prints its row (a flooding
# client's line made one); for a Wine row the wineserver's CPU over the
# whole connection (warm-up second included) follows it. Warnings are kept,
# and any block not whole is noted.
whole=yes
measured() {
    local label=$1 period=$2 t0 c0 row extra=""
    shift 2
    t0="$(date +%s.%N)"
    [ "$server" = wine ] && c0="$(cpu_ticks "$wineserver_pid")"
    rm -f "$tmp/held"
    # The send buffer the kernel holds, once the client is connected.
    local sampler=""
    if [ -n "${sndbuf_table:-}" ]; then
        (sleep 2 && held_sndbuf "$3" >"$tmp/held") &
        sampler=$!
    fi
    row="$(run "$@" 2>"$tmp/err")"
    [ -n "$sampler" ] && wait "$sampler"
    [ "$table" = flood ] && row="$(flood_row "$label" "$period" "$(head -n1 <<<"$row")")"
    if [ "$server" = wine ]; then
        extra="$(awk -v c0="$c0" -v c1="$(cpu_ticks "$wineserver_pid")" -v t0="$t0" \
            -v t1="$(date +%s.%N)" -v hz="$(getconf CLK_TCK)" \
            'BEGIN { printf "  wineserver %.0f", (c1 - c0) / hz / (t1 - t0) * 100 }')"
    fi
    [ -s "$tmp/held" ] && extra="$extra  sndbuf held $(cat "$tmp/held")"
    printf '%s%s\n' "$row" "$extra"
    if [ -s "$tmp/err" ]; then
        sed 's/^/    /' "$tmp/err"
        grep -q 'differ from the pattern' "$tmp/err" && whole=no
    fi
    case "$row" in *"source ended early"* | *"too few blocks"*) whole=no ;; esac
}

held_sndbuf() { # held_sndbuf PORT: tb of the server's end of the connection
    ss -Htmn state established "sport = :$1" | sed -n 's/.*[(,]tb\([0-9]*\).*/\1/p' | head -n1
}

# A flooding client's line, as a row: lateness = interval - period.
flood_row() { # flood_row LABEL PERIOD CLIENT-LINE
    awk -v label="$1" -v p="$2" '{
        for (i = 1; i <= NF; i++) {
            if ($i == "MB/s") mbps = $(i - 1)
            if ($i == "p50") p50 = $(i + 1)
            if ($i == "p99") p99 = $(i + 1)
            if ($i == "max") mx = $(i + 1)
            if ($i == "got") blocks = $(i + 1)
        }
        sub(/^\(/, "", mbps)
        printf "%-28s %8s %7s %8.2f %8.2f %8.2f\n", label, mbps, blocks, p50 - p, p99 - p, mx - p
    }' <<<"$3"
}

# server_row KIND MODE PATTERN_DIR PERIOD: a fresh program for one row of
# $table; MODE is shown, hidden (events), dumps (shown, and dumps on) or
# menu (ファイル held open).
server_row() {
    local mode=$2 d=$3 period=$4 label
    server=$1
    start_kesmar "$d"
    set_period "$period"
    label="Linux kesmar"
    [ "$server" = wine ] && label="Wine kesmar.exe"
    [ "$mode" = hidden ] && { toggle_events; label="${label%% *}, no events"; }
    [ -n "${variant:-}" ] && label="$label, $variant"
    [ "$mode" = dumps ] && { toggle_dump; label="${label%% *}, dumps"; }
    toggle_send
    if [ "$mode" = menu ]; then
        xdotool windowfocus --sync "$win" key F10 Down
        label="${label%% *}, menu open"
    fi
    if [ "$table" = flood ]; then
        measured "$label" "$period" "$client" flood "$port" "$d/blob" "$period" $((s * 2))
    else
        measured "$label" "$period" "$client" "$table" "$port" "$d/blob" "$period" "$s" \
            "$label" "$kesmar_pid"
    fi
    [ "$mode" = menu ] && xdotool key Escape Escape
    stop_kesmar
    server=linux
}

paced_row() { # paced_row PATTERN_DIR PERIOD [SNDBUF asked, 32768]
    start_group "exec '$client' paced $base_port '$1/blob' $2 ${3:-32768} 16384"
    local label="bare paced sender"
    [ -n "${3:-}" ] && label="bare paced, asks $3"
    if [ "$table" = flood ]; then
        measured "$label" "$2" "$client" flood "$base_port" "$1/blob" "$2" $((s * 2))
    else
        measured "$label" "$2" "$client" "$table" "$base_port" "$1/blob" "$2" "$s" "$label"
    fi
    stop_group "$last_group"
    for _ in $(seq 50); do port_free "$base_port" && break; sleep 0.1; done
}

period_header() {
    printf '%-20s %6s %7s %10s %8s %8s %8s %8s %10s %5s\n' source "period" \
        blocks "mean err" "err %" "p50 ms" "p99 ms" "max ms" "drift ms" "cpu %"
}

tables="${TABLES:-period throughput flood menu}"
built_exe="$exe"
case " $tables " in
*" sndbuf "*)
    exact_build="$build/windows-sndbuf"
    cmake -S "$root" -B "$exact_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DKESMAR_SNDBUF_AS_WINDOWS=ON \
        --no-warn-unused-cli >/dev/null
    cmake --build "$exact_build" -j2 --target kesmar fendral >/dev/null
    exact_exe="$exact_build/bin/kesmar.exe"
    ;;
esac
start_xvfb
start_wineserver
echo "$(wine --version) (64-bit), WINEDEBUG=-all; Wine is not Windows: it runs on Linux's TCP stack"
echo "and its own timers. $s s per run after 1 s not timed; 'no events' has"
echo "\"イベントを表示しない\" checked. Wine rows end with the wineserver's CPU % (whole run)."
load_note
"$client" sample "$tmp"

for table in $tables; do
    echo
    case $table in
    period)
        echo "period 10 ms, 9-byte sample pattern: interval = time between the arrivals of successive"
        echo "whole blocks; err = |interval - period|; drift = (last - first arrival) - (blocks - 1) x period"
        period_header
        for kind in linux wine; do
            for mode in shown hidden; do server_row "$kind" "$mode" "$tmp" 10; done
        done
        paced_row "$tmp" 10
        ;;
    throughput)
        echo "throughput at 10 ms: 'plain' client (no socket options, reads as fast as it can); on"
        echo "time = intervals within 1 ms of 10 ms; bare paced sender: kesmar's buffers, 16 KiB pieces"
        printf '%-28s %8s %8s %8s %6s %8s %8s %8s %8s %7s %5s\n' source block "MB/s" "blocks/s" \
            asked "iv p1" "iv p50" "iv p99" "iv max" "on time" "cpu %"
        for records in ${RECORDS:-16384 262144 1048576}; do
            d="$tmp/p$records"
            mkdir -p "$d"
            "$client" pattern "$records" "$d"
            for kind in linux wine; do
                for mode in shown hidden; do server_row "$kind" "$mode" "$d" 10; done
            done
            paced_row "$d" 10
        done
        ;;
    flood)
        echo "flood at 100 ms, sample pattern, $((s * 2)) s: the client writes 64 KiB as fast as the"
        echo "server takes it while reading; late = interval - 100 ms between whole blocks"
        printf '%-28s %8s %7s %8s %8s %8s\n' source "MB/s in" blocks "late p50" "late p99" "late max"
        server_row linux hidden "$tmp" 100
        for mode in hidden shown; do server_row wine "$mode" "$tmp" 100; done
        paced_row "$tmp" 100
        ;;
    sndbuf)
        echo "send buffer at 10 ms, 'plain' client as in the throughput table: kesmar.exe as built asks"
        echo "for 32768 bytes, which Linux doubles; '32 KiB' asks for 16384 and holds 32768, as Windows would"
        printf '%-28s %8s %8s %8s %6s %8s %8s %8s %8s %7s %5s\n' source block "MB/s" "blocks/s" \
            asked "iv p1" "iv p50" "iv p99" "iv max" "on time" "cpu %"
        sndbuf_table=yes
        table=throughput
        for records in ${RECORDS:-16384 65536 262144 1048576}; do
            d="$tmp/p$records"
            mkdir -p "$d"
            "$client" pattern "$records" "$d"
            for variant in "" "32 KiB"; do
                exe="$built_exe"
                [ -n "$variant" ] && exe="$exact_exe"
                for mode in shown hidden; do server_row wine "$mode" "$d" 10; done
            done
            variant=""
            exe="$built_exe"
            paced_row "$d" 10 32768
            paced_row "$d" 10 16384
        done
        sndbuf_table=""
        ;;
    cpu | menu)
        if [ "$table" = menu ]; then
            echo "the ファイル menu held open (F10, Down) for the whole run, period 10 ms, sample pattern;"
            echo "columns as in the period table"
            modes="menu shown"
        else
            echo "period 10 ms, sample pattern: kesmar.exe with the events shown, and with dumps on"
            echo "too, beside the bare paced sender; columns as in the period table"
            modes="shown dumps"
        fi
        period_header
        table=period
        for mode in $modes; do server_row wine "$mode" "$tmp" 10; done
        paced_row "$tmp" 10
        ;;
    esac
    load_note
done
echo "every block whole (each byte compared with the pattern, no source ended early): $whole"
