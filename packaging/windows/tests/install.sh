#!/bin/sh
# The installer under Wine, in a prefix made anew for this run: it installs
# for the current user under AppData\Local\Programs\Tarvolin with a
# Start-menu shortcut and an uninstall entry, the shortcut starts a
# kesmar.exe that listens and the kesmarctl.exe installed with it ends it, a
# repair restores deleted files, and neither a repair (even one that forces
# every file), nor running the package again, nor an upgrade replaces the
# test.txt the user edited; the uninstall leaves that test.txt and nothing
# else. Wine's msiexec /f repairs nothing (it hands a package's path to
# MsiReinstallProduct, which wants a product code, and takes no product
# code), so the repairs set REINSTALL and REINSTALLMODE, as /f does.
#   install.sh SOURCE_DIR WINDOWS_BUILD_DIR
set -eu
src="$(cd "$1" && pwd)"
wine_tests="$src/server/tests/wine"
. "$src/server/tests/blackbox.sh"
. "$wine_tests/wine.sh"
need Xvfb wixl msibuild msiinfo python3 ss timeout
bin="$2/bin"
[ -f "$bin/kesmar.exe" ] || {
    echo "skipped: no $bin/kesmar.exe (scripts/build-windows.sh builds it)"
    exit 77
}

# The package of this version and one of the next, as package-windows.sh
# builds them.
stage="$work/stage"
sh "$src/packaging/windows/stage.sh" "$bin" "$stage"
version="$(sed -n 's/^project(Tarvolin VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
next="$(echo "$version" | awk -F. -v OFS=. '{ $NF = $NF + 1; print }')"
msi="$work/kesmar-$version.msi"
msi_next="$work/kesmar-$next.msi"
sh "$src/packaging/windows/msi.sh" "$stage" "$msi" "$version" >/dev/null
sh "$src/packaging/windows/msi.sh" "$stage" "$msi_next" "$next" >/dev/null
property() { msiinfo export "$1" Property | sed -n "s/^$2\t\([^\r]*\).*/\1/p"; }
code="$(property "$msi" ProductCode)"
code_next="$(property "$msi_next" ProductCode)"

# What Wine cannot show, read from the package: it asks for no elevation
# (Word Count 8, beside 2 for compressed) and leaves ALLUSERS unset, so
# Windows installs it per user without a UAC prompt.
msiinfo suminfo "$msi" | grep -q '^Source: 10 ' || fail "the package may ask for elevation"
[ -z "$(property "$msi" ALLUSERS)" ] || fail "ALLUSERS is set"

sh "$wine_tests/prefix.sh" "$work/prefix" >"$work/prefix.log" 2>&1 ||
    fail "no Wine prefix: $(tail -n 5 "$work/prefix.log")"
start_xvfb
use_prefix "$work/prefix"
# One server for the whole run, ended with it. Otherwise each step's first
# Wine process may meet the last step's server as it exits (3 s after its
# last client): a CI run once found no uninstall entry just after an install.
wineserver -p

# msi STEP ARGS...: msiexec without a window, bounded; its log is kept.
msi() {
    step="$1"
    shift
    st=0
    timeout 120 wine msiexec "$@" /qn /l*v "$(winepath -w "$work/$step.log")" \
        >"$work/$step.out" 2>&1 || st=$?
    [ "$st" -eq 0 ] && return 0
    tr -d '\000\r' <"$work/$step.log" | grep -Ei 'error|return value 3' | tail -n 20 || true
    fail "msiexec ($step) ended with status $st"
}
exists() { wine reg query "$@" >/dev/null 2>&1; }
# reg_value KEY NAME: the value's data as reg shows it.
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name { sub(/^ *[^ ]+ +[^ ]+ +/, ""); print }'
}
# Windows keeps a per-user product's uninstall entry under HKCU; Wine puts
# every product's under HKLM.
uninstall_key() {
    for hive in HKCU HKLM; do
        key="$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1"
        if exists "$key"; then
            echo "$key"
            return 0
        fi
    done
    return 1
}
# The packed GUID Windows Installer names a product's keys with.
packed() {
    python3 -c 'import sys; g = sys.argv[1].strip("{}").replace("-", "")
print(g[7::-1] + g[11:7:-1] + g[15:11:-1] + "".join(g[i + 1] + g[i] for i in range(16, 32, 2)))' "$1"
}
listening() { [ -n "$(ss -Hltn 'sport = :20319')" ]; }
not_listening() { ! listening; }
edited() { grep -q '^edited,0,0,8,85' "$dir/test.txt"; }
same_files() {
    [ "$(ls "$dir")" = "$(ls "$stage")" ] || fail "$1: the folder holds $(ls "$dir" | tr '\n' ' ')"
    for f in kesmar.exe kesmarctl.exe Fendral.dll fendral.h LICENSE.txt README-windows.txt; do
        cmp -s "$stage/$f" "$dir/$f" || fail "$1: $f is not the one packed"
    done
}

users="$WINEPREFIX/drive_c/users"
[ ! -e "$(echo "$users"/*/AppData/Local/Programs)" ] || fail "the new prefix has a Programs folder"
msi install /i "$(winepath -w "$msi")"
set -- "$users"/*/AppData/Local/Programs/Tarvolin
[ -d "$1" ] || fail "nothing in AppData\\Local\\Programs\\Tarvolin"
dir="$1"
home="${dir%/AppData/Local/Programs/Tarvolin}"
lnk="$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tarvolin.lnk"
windir="$(winepath -w "$dir")"
same_files install
cmp -s "$stage/test.txt" "$dir/test.txt" || fail "test.txt is not the sample"
printf 'installed in %s\n' "$windir"

# The shortcut leads to kesmar.exe and starts it in its folder.
[ -f "$lnk" ] || fail "no Tarvolin.lnk in the Start menu"
python3 - "$lnk" "$windir" <<'PY' || fail "Tarvolin.lnk does not lead to kesmar.exe in $windir"
import sys
link = open(sys.argv[1], "rb").read()
folder = sys.argv[2]
assert (folder + "\\kesmar.exe").encode("latin-1") in link, "target"
assert (folder + "\\").encode("utf-16-le") in link, "working directory"
PY
key="$(uninstall_key "$code")" || fail "no uninstall entry for $code"
expect_value() {
    [ "$(reg_value "$key" "$1")" = "$2" ] || fail "$1 is \"$(reg_value "$key" "$1")\", not \"$2\""
}
expect_value DisplayName Tarvolin
expect_value Publisher Tarvolin
expect_value DisplayVersion "$version"
expect_value NoModify 0x1
expect_value InstallLocation "$windir\\"
# Installed for this user alone, with the icon Apps & features shows.
exists "HKCU\\Software\\Microsoft\\Installer\\Products\\$(packed "$code")" ||
    fail "not registered as a per-user product"
[ -f "$home/AppData/Roaming/Microsoft/Installer/$code/kesmar.ico" ] || fail "the icon was not kept"
echo "Start-menu shortcut, uninstall entry in ${key%%\\*}, per-user product"

timeout 30 wine start /unix "$lnk" >"$work/start.log" 2>&1 || fail "the shortcut did not start"
wait_until 600 listening ||
    fail "kesmar.exe started from the shortcut does not listen on 20319: $(cat "$work/start.log")"
# The kesmarctl.exe installed beside it ends it, once its window shows.
{ timeout 60 wine "$dir/kesmarctl.exe" wait 30 && timeout 60 wine "$dir/kesmarctl.exe" quit; } \
    >"$work/quit.log" 2>&1 ||
    fail "the installed kesmarctl.exe could not quit kesmar.exe: $(cat "$work/quit.log")"
wait_until 50 not_listening || fail "kesmar.exe still listens"
echo "the shortcut starts kesmar.exe, which listens; the installed kesmarctl.exe quits it"

printf 'edited,0,0,8,85\r\n' >"$dir/test.txt"
# A repair as msiexec /f makes it, with a file and the shortcut gone.
rm "$dir/Fendral.dll" "$lnk"
msi repair /i "$(winepath -w "$msi")" REINSTALL=ALL REINSTALLMODE=pecms
same_files repair
[ -f "$lnk" ] || fail "the repair did not restore the shortcut"
edited || fail "the repair replaced the edited test.txt"
rm "$dir/kesmar.exe"
msi forced_repair /i "$(winepath -w "$msi")" REINSTALL=ALL REINSTALLMODE=amus
same_files "forced repair"
edited || fail "a repair that forces every file replaced the edited test.txt"
msi again /i "$(winepath -w "$msi")"
edited || fail "installing again replaced the edited test.txt"
echo "repairs restore deleted files, keep the edited test.txt"

msi upgrade /i "$(winepath -w "$msi_next")"
same_files upgrade
edited || fail "the upgrade replaced the edited test.txt"
! uninstall_key "$code" >/dev/null || fail "$version is still installed beside $next"
key="$(uninstall_key "$code_next")" || fail "no uninstall entry for $next"
expect_value DisplayVersion "$next"
echo "$next replaced $version, kept the edited test.txt"

msi uninstall /x "$(winepath -w "$msi_next")"
edited || fail "the uninstall took the edited test.txt"
left="$(cd "$users" && find . -path '*/AppData/Local/Programs/*' ! -path "*/Tarvolin" \
    ! -path "*/Tarvolin/test.txt" -o -name 'Tarvolin.lnk' -o -path '*/Microsoft/Installer/{*')"
[ -z "$left" ] || fail "left after the uninstall: $left"
! exists 'HKCU\Software\Tarvolin' /v Program || fail "the program's registry value is left"
! exists 'HKCU\Software\Tarvolin' /v Control || fail "kesmarctl's registry value is left"
! uninstall_key "$code_next" >/dev/null || fail "the uninstall entry is left"
! exists "HKCU\\Software\\Microsoft\\Installer\\Products\\$(packed "$code_next")" ||
    fail "the product is still registered"
echo "uninstalled: nothing left but the edited test.txt"
