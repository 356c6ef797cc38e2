#!/usr/bin/env bash
# What Qt's accessibility bridge costs kesmar at 10 ms with events shown:
# period.sh's "kesmar" row, beside its bare paced sender, in a D-Bus session
# with the accessibility bus running as on a desktop and no screen reader;
# for a kesmar that stays off that bus (BEFORE, a build of an earlier
# commit) and one that joins it (BUILD), one after the other, ROUNDS times.
# Each run also asks kesmarctl (wait) whether that kesmar is on the bus:
# nothing said is yes.
#   BEFORE=dir [BUILD=dir] [ROUNDS=3] bench/bridge.sh [seconds per run]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
s="${1:-${SECONDS_PER_RUN:-30}}"
after="$(cd "${BUILD:-$root/build-bench}" && pwd)"
before="$(cd "${BEFORE:?BEFORE=dir: a build of the commit to compare with}" && pwd)"
ctl="$after/bin/kesmarctl"
launcher=""
for d in /usr/libexec /usr/lib/at-spi2-core; do
    [ -x "$d/at-spi-bus-launcher" ] && launcher="$d/at-spi-bus-launcher"
done
[ -n "$launcher" ] || { echo "missing: at-spi-bus-launcher (at-spi2-core)" >&2; exit 1; }
[ -x "$ctl" ] || { echo "no $ctl: build kesmarctl in $after" >&2; exit 1; }
unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_ACCESSIBILITY AT_SPI_BUS_ADDRESS

for round in $(seq "${ROUNDS:-3}"); do
    for side in before after; do
        build="$before"
        [ "$side" = after ] && build="$after"
        runtime="$(mktemp -d)"
        echo "== round $round, $side: $build"
        # The launcher sees no display, so only kesmar itself can decide to
        # join the bus.
        XDG_RUNTIME_DIR="$runtime" BUILD="$build" CTL="$ctl" LAUNCHER="$launcher" S="$s" \
            dbus-run-session -- bash -c '
            env -u DISPLAY "$LAUNCHER" --launch-immediately >/dev/null 2>&1 &
            (sleep 3 && echo "on the bus? $("$CTL" wait 20 2>&1 || :)") &
            asked=$!
            PERIODS=10 MODES=shown "'"$here"'/server/period.sh" "$S"
            wait "$asked"' 2>&1 | grep -Ev 'dbus-daemon|SpiRegistry'
        rm -rf "$runtime"
    done
done
