#!/bin/sh
# Cross-builds Fendral.dll for 32-bit Windows and checks its export table:
# setBit, setBitFloat, getBit undecorated at ordinals 1, 2, 3, stdcall, and
# imports from system DLLs only.
set -eu
src="$1"
out="$2"
cc=i686-w64-mingw32-gcc
command -v "$cc" >/dev/null || { echo "no $cc"; exit 77; }
mkdir -p "$out"
"$cc" -O2 -Wall -Wextra -c -I "$src/include" "$src/fendral.c" -o "$out/fendral.o"
# stdcall decorates with the argument bytes: the callee pops them.
nm "$out/fendral.o" | grep -q ' T _setBit@16$'
nm "$out/fendral.o" | grep -q ' T _setBitFloat@8$'
nm "$out/fendral.o" | grep -q ' T _getBit@12$'
"$cc" -shared -static-libgcc -Wl,--kill-at -o "$out/Fendral.dll" "$out/fendral.o" "$src/fendral.def"
dump="$(i686-w64-mingw32-objdump -p "$out/Fendral.dll")"

table="$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p' | tr '\n' ';')"
# objdump sorts names and shows ordinal minus base (1): setBit 1, setBitFloat 2, getBit 3.
[ "$table" = "2 getBit;0 setBit;1 setBitFloat;" ] ||
    { echo "name table: $table"; exit 1; }
ordinals="$(printf '%s\n' "$dump" | sed -n '/Export Address Table/,/\[Ordinal/p' |
    grep -c '^[[:space:]]*\[[[:space:]]*[0-9]\]' || true)"
[ "$ordinals" = 3 ] || { echo "export address entries: $ordinals"; exit 1; }
printf '%s\n' "$dump" | grep -q 'Ordinal Base[[:space:]]*1' || { echo "ordinal base is not 1"; exit 1; }

imports="$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')"
for dll in $imports; do
    case "$(echo "$dll" | tr 'A-Z' 'a-z')" in
        kernel32.dll | msvcrt.dll | api-ms-win-crt-*) ;;
        *) echo "imports a non-system DLL: $dll"; exit 1 ;;
    esac
done
echo "exports: $table imports: $imports"
