# Sourced by the scripts beside it, after ../e2e/xvfb.sh: Wine on a private
# X display, with a prefix of the build's own. POSIX sh, under set -eu.
#
# A wineserver serves every Wine process of a prefix, and Winsock's sockets
# are its sockets: it must live in the caller's network namespace. So each
# run starts its own and ends it, and runs that share a prefix take turns
# (ctest's RESOURCE_LOCK).

need wine wineserver

export WINEDEBUG=-all
# No .NET or HTML engine to offer installing, no menu entries in $HOME.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# absolute PATH: Wine takes WINEPREFIX only as an absolute path.
absolute() {
    case "$1" in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "$PWD/$1" ;;
    esac
}

# use_prefix DIR
use_prefix() {
    WINEPREFIX="$(absolute "$1")"
    export WINEPREFIX
    # One left from a run in another namespace would serve this one too.
    wineserver -k 2>/dev/null || true
}

cleanup() {
    for p in $kpid $helpers; do
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    if [ -n "${WINEPREFIX:-}" ]; then
        wineserver -k 2>/dev/null || true
    fi
    if [ -n "$xpid" ]; then
        kill "$xpid" 2>/dev/null || true
        wait "$xpid" 2>/dev/null || true
    fi
    rm -rf "$work"
}

# start_exe EXE [ARGS...]: as start_kesmar does, through Wine.
start_exe() {
    rm -f "$work/kesmar.pid" "$work/status"
    (
        cd "$(dirname "$1")"
        exe="$(basename "$1")"
        shift
        wine "$exe" "$@" >"$work/kesmar.log" 2>&1 &
        echo $! >"$work/kesmar.pid"
        st=0
        wait $! || st=$?
        echo "$st" >"$work/status.tmp"
        mv "$work/status.tmp" "$work/status"
    ) &
    helpers="$helpers $!"
    wait_until 50 test -s "$work/kesmar.pid" || fail "wine did not start"
    kpid="$(cat "$work/kesmar.pid")"
}
