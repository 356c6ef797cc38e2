# Shared by reader.sh and pane.sh: configures and builds one target, Release,
# in build-bench/ (or $BUILD).
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build-bench}"
bench_build() {
    [ -f "$build/CMakeCache.txt" ] ||
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j2 --target "$1" >/dev/null
}
