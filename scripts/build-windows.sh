#!/bin/sh
# Cross-builds the Windows program for x86_64 with MinGW-w64: kesmar.exe,
# kesmarctl.exe, Fendral.dll and test.txt side by side in build-windows/bin/
# (or in bin/ of the directory given as $1). Later runs rebuild only what
# changed.
set -eu
cd "$(dirname "$0")/.."
dir="${1:-build-windows}"
scripts/deps.sh windows
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF --no-warn-unused-cli >/dev/null
cmake --build "$dir" -j2 --target kesmar kesmarctl fendral
ls "$dir"/bin/kesmar.exe "$dir"/bin/kesmarctl.exe "$dir"/bin/Fendral.dll "$dir"/bin/test.txt
