#!/bin/sh
# Builds the Debian package of kesmar and libfendral into build-deb/ (or the
# directory given as $1) and prints its file name.
set -eu
cd "$(dirname "$0")/.."
dir="${1:-build-deb}"
scripts/deps.sh package
# Debian's hardening flags, all of them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$dir" -j2
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/kesmar_*.deb
