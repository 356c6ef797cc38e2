# Shared by the server benchmarks that run kesmar.exe under Wine (bash,
# sourced after common.sh): builds the Windows program if needed, makes the
# bench's own prefix and a persistent wineserver in the caller's network
# namespace, and stops both on exit. start_kesmar starts kesmar.exe while
# server=wine.
# WINBUILD=dir picks the Windows build (default: build-windows/, which
# scripts/build-windows.sh makes).

for tool in wine wineserver pgrep; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
winbuild="${WINBUILD:-$root/build-windows}"
case "$winbuild" in /*) ;; *) winbuild="$PWD/$winbuild" ;; esac
if [ -f "$winbuild/CMakeCache.txt" ]; then
    cmake --build "$winbuild" -j2 --target kesmar fendral >/dev/null
else
    "$root/scripts/build-windows.sh" "$winbuild" >/dev/null
fi
exe="$winbuild/bin/kesmar.exe"
[ -f "$exe" ] || { echo "no $exe after the build" >&2; exit 1; }

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# A prefix of the bench's own beside the build, made once (with the fonts
# the window asks for) by the tests' script, so that no test's wineserver is
# ever stopped or shared by this one.
WINEPREFIX="$build/wine-bench-prefix"
export WINEPREFIX
sh "$root/server/tests/wine/prefix.sh" "$WINEPREFIX" >&2
wineserver_pid=""
trap 'stop_kesmar; wineserver -k 2>/dev/null; cleanup' EXIT

# One left from a run in another namespace would serve this one; then a
# persistent one of our own, so that each start of the program does not pay
# for a new one and its CPU time can be read.
start_wineserver() {
    wineserver -k 2>/dev/null || true
    wineserver -p
    local p me
    me="$(readlink /proc/self/ns/net)"
    for _ in $(seq 50); do
        for p in $(pgrep "^wineserver"); do
            [ "$(readlink "/proc/$p/ns/net" 2>/dev/null)" = "$me" ] &&
                tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
                wineserver_pid=$p
        done
        [ -n "$wineserver_pid" ] && return 0
        sleep 0.1
    done
    echo "the wineserver did not start" >&2
    exit 1
}

cpu_ticks() { # cpu_ticks PID: user + system time in clock ticks
    awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

