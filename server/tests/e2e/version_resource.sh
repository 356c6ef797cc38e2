#!/bin/sh
# The Windows version record, compiled as a MinGW build compiles it and read
# back: it names the project's version, "1.00" for people, and Japanese.
#   version_resource.sh kesmar.rc PROJECT_VERSION
set -eu
rc="$1"
version="$2"
windres=""
for tool in i686-w64-mingw32-windres x86_64-w64-mingw32-windres; do
    if command -v "$tool" >/dev/null 2>&1; then
        windres="$tool"
        break
    fi
done
[ -n "$windres" ] || {
    echo "skipped: no MinGW windres"
    exit 77
}
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Compiling also proves that the icon it names is found.
"$windres" -O coff "$rc" -o "$work/kesmar.res.o"
"$windres" -O rc "$rc" -o "$work/back.rc"

fail() {
    echo "FAIL: $*"
    exit 1
}
numbers="$(echo "$version" | sed 's/\./, /g')"
major="${version%%.*}"
minor="$(echo "$version" | cut -d. -f2)"
shown="$major.$(printf '%02d' "$minor")"
grep -q "^ *FILEVERSION $numbers\$" "$work/back.rc" || fail "FILEVERSION is not $numbers"
grep -q "^ *PRODUCTVERSION $numbers\$" "$work/back.rc" || fail "PRODUCTVERSION is not $numbers"
grep -q "VALUE \"FileVersion\", \"$shown\"" "$work/back.rc" || fail "FileVersion is not $shown"
grep -q "VALUE \"ProductVersion\", \"$shown\"" "$work/back.rc" || fail "ProductVersion is not $shown"
grep -q 'BLOCK "041104B0"' "$work/back.rc" || fail "no Japanese string table"
grep -q 'VALUE "Translation", 0x411, 1200' "$work/back.rc" || fail "translation is not Japanese"
# Every resource in the file is tagged Japanese (LANG_JAPANESE 17, SUBLANG 1).
langs="$(grep '^LANGUAGE' "$work/back.rc" | sort -u)"
[ "$langs" = "LANGUAGE 17, 1" ] || fail "resource languages: $langs"
echo "version $version shown as $shown, Japanese"
