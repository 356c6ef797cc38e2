# Sourced after server/tests/blackbox.sh by the tests that drive the real
# kesmar with kesmarctl: a D-Bus session bus and the accessibility bus beside
# the private X display, as a desktop session has them, and nothing more: no
# screen reader, no variable that turns Qt's accessibility on. The bus
# launcher does not see the display, so nothing on the X root window tells
# Qt where the bus is either: kesmar has to join it by itself. POSIX sh.

# kesmarctl COMMAND...: runs it, never for long; sets out, err and st.
ctl() {
    st=0
    timeout 20 "$kesmarctl" "$@" </dev/null >"$work/out" 2>"$work/err" || st=$?
    out="$(cat "$work/out")"
    err="$(cat "$work/err")"
    [ "$st" -ne 124 ] || fail "kesmarctl $* still running after 20 s"
}

at_spi_launcher() {
    for d in /usr/libexec /usr/lib/at-spi2-core /usr/lib/at-spi2; do
        [ -x "$d/at-spi-bus-launcher" ] && echo "$d/at-spi-bus-launcher" && return 0
    done
    return 1
}

# start_session KESMARCTL: the session bus on a socket of this test's own,
# then the accessibility bus, which puts its socket under XDG_RUNTIME_DIR.
start_session() {
    kesmarctl="$1"
    need dbus-daemon timeout
    launcher="$(at_spi_launcher)" || {
        echo "skipped: at-spi-bus-launcher (at-spi2-core) is not installed"
        exit 77
    }
    unset QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_ACCESSIBILITY AT_SPI_BUS_ADDRESS
    XDG_RUNTIME_DIR="$work/run"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
    dbus-daemon --session --nofork --address="unix:path=$work/bus" >"$work/dbus.log" 2>&1 &
    helpers="$helpers $!"
    wait_until 50 test -S "$work/bus" || fail "the session bus did not start"
    DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
    export DBUS_SESSION_BUS_ADDRESS
    env -u DISPLAY "$launcher" --launch-immediately >>"$work/dbus.log" 2>&1 &
    helpers="$helpers $!"
    wait_until 50 test -S "$XDG_RUNTIME_DIR/at-spi/bus" ||
        fail "the accessibility bus did not start: $(cat "$work/dbus.log")"
}
