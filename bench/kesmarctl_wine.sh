#!/usr/bin/env bash
# kesmarctl.exe's time per command under Wine, against one kesmar.exe on an
# Xvfb of its own: the median wall time of RUNS runs of each command (the
# on/off ones switching back and forth, so that each run changes
# something), and that median less the median of `kesmarctl.exe --help`,
# which touches no window: what is left is the command's own work, Wine's
# start-up of a program apart. quit is timed on a fresh kesmar.exe each run.
#   bench/kesmarctl_wine.sh [RUNS]   (default 7)
# Run it in a network namespace of its own (kesmar.exe listens on 20319):
#   unshare -n sh -c 'ip link set lo up && bench/kesmarctl_wine.sh'
# WINBUILD=dir picks the Windows build (default: build-windows/, which
# scripts/build-windows.sh makes); BUILD=dir where the prefix is kept.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-7}"
winbuild="${WINBUILD:-$root/build-windows}"
build="${BUILD:-$root/build}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
"$root/scripts/build-windows.sh" "$winbuild" >/dev/null
exe="$winbuild/bin/kesmar.exe"
ctl="$winbuild/bin/kesmarctl.exe"

# The tests' harness: Xvfb, kesmar.exe started and watched, cleanup.
. "$root/server/tests/blackbox.sh"
. "$root/server/tests/wine/wine.sh"
sh "$root/server/tests/wine/prefix.sh" "$build/wine-bench-prefix" >&2
start_xvfb
use_prefix "$build/wine-bench-prefix"
wineserver -p

ms_now() { date +%s%N | cut -c1-13; }
# timed ARGS...: one run's milliseconds; a run that fails stops the bench.
timed() {
    local t0
    t0="$(ms_now)"
    wine "$ctl" "$@" >/dev/null 2>"$work/err" || { echo "kesmarctl $*: $(cat "$work/err")" >&2; exit 1; }
    echo $(($(ms_now) - t0))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

run_kesmar "$exe"
wine "$ctl" wait 30 >/dev/null
echo "$(wine --version), $runs runs each; load average $(cut -d' ' -f1-3 /proc/loadavg)," \
    "$(nproc) cores"
help="$(for _ in $(seq "$runs"); do timed --help; done | median)"
printf '%-14s %8s %10s\n' command 'median ms' 'less --help'
printf '%-14s %8s %10s\n' --help "$help" -
# row LABEL ARGS-A [ARGS-B]: runs alternate between A and B.
row() {
    local label=$1 a=$2 b=${3:-$2} i m
    m="$(for i in $(seq "$runs"); do
        if [ $((i % 2)) -eq 1 ]; then timed $a; else timed $b; fi
    done | median)"
    printf '%-14s %8s %10s\n' "$label" "$m" $((m - help))
}
row status status
row wait 'wait 5'
row 'period MS' 'period 500' 'period 1000'
row 'send on|off' 'send on' 'send off'
row 'dump on|off' 'dump on' 'dump off'
row 'events on|off' 'events off' 'events on'
row clear clear
row log log
row dumps dumps
m="$(for _ in $(seq "$runs"); do
    wine "$ctl" status >/dev/null 2>&1 || run_kesmar "$exe"
    wine "$ctl" wait 30 >/dev/null
    timed quit
    ends_with 0 "after quit"
done | median)"
printf '%-14s %8s %10s\n' quit "$m" $((m - help))
