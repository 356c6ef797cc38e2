# Sourced by the scripts beside it, after ../blackbox.sh: Wine on its
# private X display, with a prefix of the build's own. POSIX sh, under set -eu.
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

# need_exe EXE HOW: skipped (77) where EXE was not built; HOW says what
# builds it.
need_exe() {
    [ -f "$1" ] || {
        echo "skipped: no $1 ($2)"
        exit 77
    }
}

need_prefix() {
    [ -f "$1/.tarvolin-prefix" ] || fail "no Wine prefix in $1 (prefix.sh makes it)"
}

# use_prefix DIR
use_prefix() {
    WINEPREFIX="$(absolute "$1")"
    export WINEPREFIX
    # One left from a run in another namespace would serve this one too.
    wineserver -k 2>/dev/null || true
}

platform_cleanup() {
    if [ -n "${WINEPREFIX:-}" ]; then
        wineserver -k 2>/dev/null || true
    fi
}

# start_kesmar EXE: through Wine, from the directory that holds it.
start_kesmar() {
    launch "$(dirname "$1")" wine "$(basename "$1")"
}
