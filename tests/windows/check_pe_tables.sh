#!/bin/sh
# The program imports GX.dll's four functions by their decorated names, GX.dll exports exactly those
# (sorted, as the loader's binary search needs), and neither needs anything but system DLLs: no
# mingw runtime DLL has to travel with them.
# Usage: check_pe_tables.sh OBJDUMP PROGRAM.exe GX.dll
set -eu
objdump=$1
program=$2
gx=$3

gx_names='?GXCloseDisplay@@YAHXZ
?GXGetDisplayProperties@@YA?AUGXDisplayProperties@@XZ
?GXIsDisplayDRAMBuffer@@YAHXZ
?GXOpenDisplay@@YAHPAUHWND__@@K@Z'

status=0
fail() {
    printf 'FAIL: %s\n' "$*"
    status=1
}

imported_dlls() {
    "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'
}

for dll in $(imported_dlls "$program"); do
    case $dll in
    kernel32.dll | user32.dll | msvcrt.dll | gx.dll) ;;
    *) fail "$program imports $dll" ;;
    esac
done
for dll in $(imported_dlls "$gx"); do
    case $dll in
    kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll) ;;
    *) fail "$gx imports $dll" ;;
    esac
done

imported_from_gx=$("$objdump" -p "$program" |
    awk '/DLL Name: GX.dll/ { inside = 1; next } /DLL Name:|^$/ { inside = 0 } inside && NF == 3 { print $3 }' | sort)
[ "$imported_from_gx" = "$gx_names" ] || fail "$program imports from GX.dll:
$imported_from_gx"

exported=$("$objdump" -p "$gx" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/ s/^[[:space:]]*\[ *[0-9]*\] //p')
[ "$exported" = "$gx_names" ] || fail "$gx exports, in this order:
$exported"

[ "$status" -eq 0 ] && echo "import and export tables as on a device"
exit "$status"
