#!/bin/sh
# Builds the Windows program (scripts/build-windows.sh) and packs it twice,
# into build-windows/ (or into the directory given as $1):
#   kesmar-VERSION-windows-x64.zip  kesmar.exe, kesmarctl.exe, Fendral.dll,
#       fendral.h, test.txt, README-windows.txt and LICENSE.txt in one folder
#       of the zip's name;
#   kesmar-VERSION-windows-x64.msi  the same files, installed for the
#       current user without administrator rights (packaging/windows/).
# Prints both names.
set -eu
cd "$(dirname "$0")/.."
dir="${1:-build-windows}"
scripts/build-windows.sh "$dir" >/dev/null
version="$(sed -n 's/^project(Tarvolin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
name="kesmar-$version-windows-x64"
stage="$dir/package/$name"
rm -rf "$dir/package"
sh packaging/windows/stage.sh "$dir/bin" "$stage"
rm -f "$dir/$name.zip"
(cd "$dir/package" && cmake -E tar cf "../$name.zip" --format=zip "$name")
echo "$dir/$name.zip"
sh packaging/windows/msi.sh "$stage" "$dir/$name.msi" "$version" >/dev/null
echo "$dir/$name.msi"
