#!/bin/sh
# The installed program reads the test.txt beside its real file, whichever
# link it is started through: usr/bin/kesmar, or a link to that link.
#   check_link.sh ROOT [BUILD_DIR]   (with BUILD_DIR: install it into ROOT first)
set -eu
root="$1"
fail() {
    echo "FAIL: $*"
    exit 1
}
if [ $# -gt 1 ]; then
    rm -rf "$root"
    DESTDIR="$root" cmake --install "$2" --prefix /usr >/dev/null
fi
real="$(readlink -f "$root/usr/bin/kesmar")"
[ "$real" != "$root/usr/bin/kesmar" ] || fail "usr/bin/kesmar is not a link"
[ -f "$(dirname "$real")/test.txt" ] || fail "no test.txt beside $real"

# Each place gets a pattern that is bad at a line of its own, so the message
# tells which file was read, and the program ends before it listens.
printf 'a,0,0,8,1\r\nb,0,0,12,1\r\n' >"$(dirname "$real")/test.txt"
printf 'a,0,0,12,1\r\n' >"$root/usr/bin/test.txt"
mkdir -p "$root/elsewhere"
ln -sf ../usr/bin/kesmar "$root/elsewhere/kesmar"
printf 'a,0,0,12,1\r\n' >"$root/elsewhere/test.txt"

for link in usr/bin/kesmar elsewhere/kesmar; do
    st=0
    out="$(cd / && QT_QPA_PLATFORM=offscreen timeout 20 "$root/$link" 2>&1)" || st=$?
    case "$out" in
    *"line 2: bit width 12"*) echo "through $link: $out" ;;
    *) fail "through $link (status $st): $out" ;;
    esac
done
