#!/bin/sh
# Installs the Debian packages that building, running and testing need.
# Only missing packages are fetched, so a second run costs nothing.
set -eu

packages="build-essential cmake qt6-base-dev libgl-dev libgtest-dev
  fonts-ipafont-gothic xvfb xauth xdotool imagemagick x11-utils
  g++-mingw-w64-i686 binutils-mingw-w64-i686 clang libclang-rt-14-dev
  socat python3 procps iproute2"

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
