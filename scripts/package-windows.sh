#!/bin/sh
# Builds the Windows program (scripts/build-windows.sh) and packs it into
# build-windows/kesmar-VERSION-windows-x64.zip (or into the directory given
# as $1): kesmar.exe, Fendral.dll, fendral.h, test.txt, README-windows.txt
# and LICENSE, in one folder of the zip's name. Prints the zip's name.
set -eu
cd "$(dirname "$0")/.."
dir="${1:-build-windows}"
scripts/build-windows.sh "$dir" >/dev/null
version="$(sed -n 's/^project(Tarvolin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
name="kesmar-$version-windows-x64"
stage="$dir/package/$name"
rm -rf "$dir/package"
mkdir -p "$stage"
cp "$dir/bin/kesmar.exe" "$dir/bin/Fendral.dll" "$dir/bin/test.txt" \
    bitfield/include/fendral.h "$stage/"
# Notepad of every Windows version reads UTF-8 with a BOM and CR LF.
{
    printf '\357\273\277'
    sed 's/$/\r/' server/win32/README-windows.txt
} >"$stage/README-windows.txt"
if [ -f LICENSE ]; then
    sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
fi
rm -f "$dir/$name.zip"
(cd "$dir/package" && cmake -E tar cf "../$name.zip" --format=zip "$name")
echo "$dir/$name.zip"
