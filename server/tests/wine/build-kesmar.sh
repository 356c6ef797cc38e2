#!/bin/sh
# Builds kesmar.exe as a user does, with scripts/build-windows.sh, into
# BUILD_DIR/bin beside test.txt.
#   build-kesmar.sh SOURCE_DIR BUILD_DIR
set -eu
script="$1/scripts/build-windows.sh"
[ -f "$script" ] || {
    echo "skipped: there is no $script to build kesmar.exe with"
    exit 77
}
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || {
    echo "skipped: x86_64-w64-mingw32-g++-posix is not installed (g++-mingw-w64-x86-64-posix)"
    exit 77
}
started="$(date +%s)"
sh "$script" "$2"
echo "built kesmar.exe in $(($(date +%s) - started)) s"
