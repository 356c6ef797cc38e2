# Shared by the server benchmarks: finds or builds a Release kesmar.
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${BUILD:-$root/build-release}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target kesmar >/dev/null
bin="$build/bin/kesmar"
drive="python3 $root/bench/server/drive.py"
