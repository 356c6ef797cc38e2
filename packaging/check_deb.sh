#!/bin/sh
# The Debian package as scripts/package.sh builds it: its files, stripped
# binaries, a versioned libfendral, dependencies found by dpkg-shlibdeps,
# the licence of LICENSE, metainfo and a desktop entry that their validators
# accept, a scratch install that runs through its link, and no lintian error.
#   check_deb.sh SOURCE_DIR WORK_DIR
set -eu
src="$1"
work="$2"
for tool in dpkg-deb dpkg-architecture lintian appstreamcli desktop-file-validate readelf cpack; do
    command -v "$tool" >/dev/null 2>&1 || {
        echo "skipped: $tool is not installed"
        exit 77
    }
done
fail() {
    echo "FAIL: $*"
    exit 1
}
rm -rf "$work"
mkdir -p "$work"
deb="$("$src/scripts/package.sh" "$work/build" | tail -n1)"
[ -f "$deb" ] || fail "no package: $deb"
echo "built $deb"

multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
listing="$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')"
for want in "./usr/bin/kesmar -> ../lib/kesmar/kesmar" ./usr/lib/kesmar/kesmar \
    ./usr/bin/kesmarctl ./usr/share/man/man1/kesmarctl.1.gz \
    ./usr/lib/kesmar/test.txt ./usr/share/applications/kesmar.desktop \
    ./usr/share/icons/hicolor/64x64/apps/kesmar.png \
    ./usr/share/icons/hicolor/256x256/apps/kesmar.png \
    ./usr/share/metainfo/org.example.tarvolin.kesmar.metainfo.xml \
    ./usr/share/doc/kesmar/copyright \
    ./usr/include/fendral.h "./usr/lib/$multiarch/libfendral.so.1.0.0" \
    "./usr/lib/$multiarch/libfendral.so.1 -> libfendral.so.1.0.0" \
    "./usr/lib/$multiarch/libfendral.so -> libfendral.so.1"; do
    printf '%s\n' "$listing" | grep -qxF "$want" || fail "not in the package: $want"
done
depends="$(dpkg-deb -f "$deb" Depends)"
printf '%s\n' "$depends" | grep -q 'libqt6widgets6' || fail "Depends: $depends"
printf '%s\n' "$depends" | grep -q 'libatspi2.0-0' || fail "Depends: $depends"
echo "Depends: $depends"
recommends="$(dpkg-deb -f "$deb" Recommends)"
[ "$recommends" = "qt6-wayland, at-spi2-core" ] || fail "Recommends: $recommends"

root="$work/root"
dpkg-deb -x "$deb" "$root"
for elf in usr/lib/kesmar/kesmar usr/bin/kesmarctl "usr/lib/$multiarch/libfendral.so.1.0.0"; do
    ! readelf -S "$root/$elf" | grep -Eq '\.symtab|\.debug_' || fail "$elf is not stripped"
done
readelf -d "$root/usr/lib/$multiarch/libfendral.so.1.0.0" | grep -q 'SONAME.*\[libfendral\.so\.1\]' ||
    fail "libfendral's SONAME is not libfendral.so.1"
# The package's licence word for word as LICENSE has it, and named by the
# metainfo; the copyright file is where Debian looks, so it is the only copy.
sed -n '/^License: Expat$/,/^$/p' "$root/usr/share/doc/kesmar/copyright" | sed -n 's/^ //p' |
    sed 's/^\.$//' >"$work/licence.deb"
sed -n '/^Permission is hereby granted/,$p' "$src/LICENSE" >"$work/licence.src"
[ -s "$work/licence.src" ] && cmp -s "$work/licence.deb" "$work/licence.src" ||
    fail "the package's copyright does not carry LICENSE's text as License: Expat"
grep -q '<project_license>MIT</project_license>' "$root"/usr/share/metainfo/*.metainfo.xml ||
    fail "the metainfo does not name the MIT licence"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml ||
    fail "AppStream does not accept the metainfo"
desktop-file-validate "$root/usr/share/applications/kesmar.desktop" ||
    fail "the desktop entry is not valid"

st=0
report="$(lintian --fail-on error "$deb" 2>&1)" || st=$?
printf '%s\n' "$report" | grep -v 'root privileges' || true
[ "$st" -eq 0 ] || fail "lintian reports errors"

sh "$(dirname "$0")/check_link.sh" "$root"
