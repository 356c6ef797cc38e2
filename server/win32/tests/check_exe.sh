#!/bin/sh
# Cross-builds kesmar.exe (scripts/build-windows.sh, into BUILD_DIR) and
# reads its PE headers back: a 64-bit Windows GUI program with its manifest
# (common controls 6, DPI, every supported system) that imports from the
# system's own DLLs only, so it runs on a bare Windows with nothing installed
# beside it; kesmarctl.exe, a console program that needs no more; and
# Fendral.dll beside them with its three exports at ordinals 1, 2, 3.
#   check_exe.sh OBJDUMP BUILD_DIR
set -eu
objdump="$1"
dir="$2"
root="$(cd "$(dirname "$0")/../../.." && pwd)"
"$root/scripts/build-windows.sh" "$dir" >/dev/null

fail() {
    echo "FAIL: $*"
    exit 1
}
exe="$dir/bin/kesmar.exe"
dll="$dir/bin/Fendral.dll"
[ -f "$dir/bin/test.txt" ] || fail "no test.txt beside kesmar.exe"

headers="$("$objdump" -p "$exe")"
printf '%s\n' "$headers" | grep -q 'file format pei-x86-64' || fail "kesmar.exe is not x86-64"
printf '%s\n' "$headers" | grep -q '^Subsystem[[:space:]]*0*2[[:space:]]*(Windows GUI)' ||
    fail "kesmar.exe is not a GUI program"

# The manifest: common controls 6 (visual styles, tooltips that subclass
# their tools) and the system DPI.
grep -a -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$exe" ||
    fail "kesmar.exe has no manifest asking for common controls 6"
grep -a -q '<dpiAware[^>]*>true</dpiAware>' "$exe" || fail "kesmar.exe's manifest is not DPI aware"
# Every system it is built for, Windows 7, 8, 8.1 and 10/11, is named as
# supported; one left out runs it in an older system's compatibility context.
for os in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
    1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -a -q "<supportedOS Id=\"{$os}\"/>" "$exe" || fail "kesmar.exe's manifest lacks supportedOS $os"
done

# system_imports_only NAME HEADERS
system_imports_only() {
    imports="$(printf '%s\n' "$2" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)"
    [ -n "$imports" ] || fail "no import table read from $1"
    for name in $imports; do
        case "$(printf '%s' "$name" | tr 'A-Z' 'a-z')" in
            kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | shell32.dll) ;;
            advapi32.dll | ws2_32.dll | winmm.dll | ole32.dll | oleaut32.dll | oleacc.dll) ;;
            uxtheme.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) ;;
            *) fail "$1 imports $name, which is no Windows system DLL" ;;
        esac
    done
    echo "$1 imports:" $imports
}
system_imports_only kesmar.exe "$headers"

# kesmarctl.exe beside it: a 64-bit console program, on the system's DLLs
# alone as well.
ctl="$("$objdump" -p "$dir/bin/kesmarctl.exe")" || fail "no kesmarctl.exe beside kesmar.exe"
printf '%s\n' "$ctl" | grep -q 'file format pei-x86-64' || fail "kesmarctl.exe is not x86-64"
printf '%s\n' "$ctl" | grep -q '^Subsystem[[:space:]]*0*3[[:space:]]*(Windows CUI)' ||
    fail "kesmarctl.exe is not a console program"
system_imports_only kesmarctl.exe "$ctl"

dump="$("$objdump" -p "$dll")"
printf '%s\n' "$dump" | grep -q 'Ordinal Base[[:space:]]*1$' || fail "Fendral.dll's ordinal base is not 1"
exports="$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p' |
    sort -n | awk '{ printf "%d %s;", $1 + 1, $2 }')"
[ "$exports" = "1 setBit;2 setBitFloat;3 getBit;" ] || fail "Fendral.dll exports: $exports"
echo "Fendral.dll exports: $exports"
