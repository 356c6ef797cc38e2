#!/bin/sh
# Fails on any tracked C or C++ file that clang-format would change, so that
# the tree stays as .clang-format has it. Only tracked files: a build
# directory inside the tree holds generated sources that are nobody's to
# format. Skipped (77) without clang-format or outside a git checkout.
#   check-format.sh [SOURCE_DIR]
set -eu
cd "${1:-$(dirname "$0")/..}"
format="${CLANG_FORMAT:-clang-format}"
for tool in "$format" git; do
    command -v "$tool" >/dev/null 2>&1 || {
        echo "skipped: $tool is not installed"
        exit 77
    }
done
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || {
    echo "skipped: not a git checkout, so nothing tells tracked files from built ones"
    exit 77
}

st=0
git ls-files -z -- '*.c' '*.h' '*.cpp' '*.hpp' | xargs -0 "$format" --dry-run --Werror || st=$?
if [ "$st" -ne 0 ]; then
    # Another major version may break some lines differently from CI's.
    echo "FAIL: run $format -i on the files above (here: $("$format" --version);" \
        "CI checks with Debian 12's clang-format 14)"
    exit 1
fi
echo "every tracked C and C++ file is formatted ($("$format" --version))"
