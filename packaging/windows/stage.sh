#!/bin/sh
# Lays out what the zip and the installer hold, in STAGE_DIR (made anew):
# kesmar.exe, kesmarctl.exe, Fendral.dll and test.txt from the Windows
# build's BIN_DIR, fendral.h, README-windows.txt and LICENSE.txt.
#   stage.sh BIN_DIR STAGE_DIR
set -eu
src="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$1"
stage="$2"
rm -rf "$stage"
mkdir -p "$stage"
cp "$bin/kesmar.exe" "$bin/kesmarctl.exe" "$bin/Fendral.dll" "$bin/test.txt" \
    "$src/bitfield/include/fendral.h" "$stage/"
# Notepad of every Windows version reads UTF-8 with a BOM and CR LF.
{
    printf '\357\273\277'
    sed 's/$/\r/' "$src/server/win32/README-windows.txt"
} >"$stage/README-windows.txt"
sed 's/$/\r/' "$src/LICENSE" >"$stage/LICENSE.txt"
