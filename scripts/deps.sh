#!/bin/sh
# Installs the Debian packages a task needs; only missing ones are fetched,
# so a second run costs nothing.
#   deps.sh run      build and start kesmar (Xvfb too when there is no display,
#                    Qt's Wayland platform on a Wayland desktop)
#   deps.sh package  the above and what building the .deb needs
#   deps.sh windows  cross-build kesmar.exe and Fendral.dll (MinGW-w64) and
#                    build the installer (wixl, msitools)
#   deps.sh test     all of the above and what the tests and benchmarks need
set -eu

run="build-essential cmake pkg-config qt6-base-dev libgl-dev libglib2.0-dev libatspi2.0-dev fonts-ipafont-gothic"
package="$run file"
windows="cmake g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wixl msitools"
test="$package $windows libgtest-dev xvfb xauth xdotool imagemagick x11-utils
  g++-mingw-w64-i686 binutils-mingw-w64-i686 clang libclang-rt-14-dev clang-format
  socat python3 procps iproute2 nftables lintian appstream desktop-file-utils
  googletest g++-mingw-w64-x86-64-posix wine wine64 xclip dbus-daemon at-spi2-core
  python3-pytest"

case "${1:-}" in
run)
    packages="$run"
    # Without a display: the virtual one, and the session with the
    # accessibility bus where kesmarctl finds kesmar.
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        packages="$packages xvfb xauth dbus-daemon at-spi2-core"
    fi
    # A native window on a Wayland desktop, rather than one through XWayland.
    if [ -n "${WAYLAND_DISPLAY:-}" ]; then
        packages="$packages qt6-wayland"
    fi
    ;;
package) packages="$package" ;;
windows) packages="$windows" ;;
test) packages="$test" ;;
*)
    echo "usage: $0 run|package|windows|test" >&2
    exit 2
    ;;
esac

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $p"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages:$missing; run this as root (or with sudo)" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
