#!/bin/sh
# Cross-builds the toolkit-free tests for 64-bit Windows with MinGW, as a
# project of their own (no window, no Qt), into BUILD_DIR/tests/tst_core.exe.
# A Release build: the objects without debug information link in a fraction
# of the time, and nobody debugs them under Wine from here.
#   cross-build.sh SOURCE_DIR BUILD_DIR
set -eu
src="$1"
dir="$2"
compiler=x86_64-w64-mingw32-g++-posix
command -v "$compiler" >/dev/null 2>&1 || {
    echo "skipped: $compiler is not installed (g++-mingw-w64-x86-64-posix)"
    exit 77
}

toolchain="$src/cmake/mingw-w64-x86_64.cmake"
if [ -f "$toolchain" ]; then
    set -- -DCMAKE_TOOLCHAIN_FILE="$toolchain"
else
    set -- -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64 \
        -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix
fi
started="$(date +%s)"
cmake -S "$src/server/core/tests" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$dir" -j2 --target tst_core
echo "cross-built $dir/tests/tst_core.exe in $(($(date +%s) - started)) s"
