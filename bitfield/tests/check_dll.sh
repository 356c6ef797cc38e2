#!/bin/sh
# Cross-builds Fendral.dll for 32-bit Windows the way the project's own build
# does, and checks what a caller binding by name or ordinal relies on.
set -eu
cc="$1"
objdump="$2"
src="$3"
out="$4"
mkdir -p "$out"
"$cc" -O2 -Wall -Wextra -Werror -std=c11 -c -I "$src/include" "$src/fendral.c" -o "$out/fendral.o"
"$cc" -shared -static-libgcc -Wl,--kill-at -Wl,--enable-stdcall-fixup -Wl,--fatal-warnings \
    -o "$out/Fendral.dll" "$out/fendral.o" "$src/fendral.def"
dump="$("$objdump" -p "$out/Fendral.dll")"

# Undecorated names at ordinals 1, 2, 3. objdump lists names sorted, each with
# its ordinal less the base.
printf '%s\n' "$dump" | grep -q 'Ordinal Base[[:space:]]*1$' || { echo "ordinal base is not 1"; exit 1; }
exports="$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p' |
    sort -n | awk '{ printf "%d %s;", $1 + 1, $2 }')"
[ "$exports" = "1 setBit;2 setBitFloat;3 getBit;" ] || { echo "exports: $exports"; exit 1; }
addresses="$(printf '%s\n' "$dump" | sed -n '/^Export Address Table/,/^$/p' | grep -c 'Export RVA' || true)"
[ "$addresses" = 3 ] || { echo "export address entries: $addresses"; exit 1; }

# stdcall: the callee pops its 16, 8 and 12 bytes of arguments.
code="$("$objdump" -d --no-show-raw-insn "$out/Fendral.dll")"
for fn in setBit@16:0x10 setBitFloat@8:0x8 getBit@12:0xc; do
    name="${fn%:*}"
    pops="$(printf '%s\n' "$code" | awk -v f="<_$name>:" '$2 == f { on = 1; next }
        on && /^$/ { exit } on && $2 == "ret" { print $3 }' | sort -u | tr '\n' ' ')"
    [ "$pops" = "\$${fn#*:} " ] || { echo "$name returns with: $pops"; exit 1; }
done

# Imports from the system only: no libgcc or winpthread DLL to ship.
imports="$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)"
for dll in $imports; do
    case "$(printf '%s' "$dll" | tr 'A-Z' 'a-z')" in
        kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*) ;;
        *) echo "imports a non-system DLL: $dll"; exit 1 ;;
    esac
done
echo "exports: $exports imports:" $imports
