#!/bin/sh
# Makes the Wine prefix the Windows tests share, or keeps the one there is
# when it was made by this Wine with these fonts. It is made on a display:
# a prefix made headless shows no window while its wineserver lives. The
# Japanese faces the window asks for are mapped to the IPA fonts, or the
# menu shows boxes and long captions are cut.
#   prefix.sh PREFIX
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../blackbox.sh"
. "$here/wine.sh"
need Xvfb iconv
prefix="$(absolute "$1")"

stamp="$(wine --version) $(cksum <"$here/fonts.reg")"
if [ -f "$prefix/.tarvolin-prefix" ] && [ "$(cat "$prefix/.tarvolin-prefix")" = "$stamp" ]; then
    echo "keeping the prefix in $prefix ($(wine --version))"
    exit 0
fi

rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
start_xvfb
use_prefix "$prefix"
started="$(date +%s)"
wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot failed: $(tail -n 5 "$work/wineboot.log")"
# regedit takes non-ASCII text only as UTF-16 with its byte order mark.
{
    printf '\377\376'
    iconv -f UTF-8 -t UTF-16LE "$here/fonts.reg"
} >"$work/fonts.reg"
wine regedit /S "$(winepath -w "$work/fonts.reg")" || fail "regedit could not import the fonts"
# Until the wineserver has written the registry out, the prefix is not done.
wineserver -w
echo "$stamp" >"$prefix/.tarvolin-prefix"
echo "made a prefix in $prefix in $(($(date +%s) - started)) s ($(wine --version))"
