#!/bin/sh
# The program imports GX.dll's four functions by their decorated names, GX.dll exports exactly those
# (sorted, as the loader's binary search needs), and neither needs anything but system DLLs: no
# mingw runtime DLL has to travel with them. Both carry a version resource naming their file and
# VERSION; the program is a GUI program with an application manifest.
# Usage: check_pe_tables.sh OBJDUMP VERSION PROGRAM.exe GX.dll
set -eu
objdump=$1
version=$2
program=$3
gx=$4

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

# The resource types in the .rsrc directory, in hex: 10 is RT_VERSION, 18 RT_MANIFEST.
resource_types() {
    "$objdump" -p "$1" | sed -n '/Resource Directory section/,/Resources start/ s/^[0-9a-f]*   Entry: ID: 0x0*\([0-9a-f]*\),.*/\1/p' |
        tr '\n' ' '
}
# The version resource's strings are UTF-16: each name is followed by its value.
version_value() {
    strings -e l "$1" | sed -n "/^$2\$/{n;p;q}"
}
for binary in "$program" "$gx"; do
    name=$(basename "$binary")
    [ "$(version_value "$binary" OriginalFilename)" = "$name" ] || fail "$name's version resource names \"$(version_value "$binary" OriginalFilename)\""
    [ "$(version_value "$binary" ProductVersion)" = "$version" ] || fail "$name's version is \"$(version_value "$binary" ProductVersion)\""
done
[ "$(resource_types "$gx")" = "10 " ] || fail "$gx has the resource types: $(resource_types "$gx")"
[ "$(resource_types "$program")" = "10 18 " ] || fail "$program has the resource types: $(resource_types "$program")"
"$objdump" -p "$program" | grep -q '^Subsystem[[:space:]]*00000002' || fail "$program is not a GUI program"
for setting in 'requestedExecutionLevel level="asInvoker"' 'PerMonitorV2' 'Microsoft.Windows.Common-Controls' \
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
    strings "$program" | grep -qF "$setting" || fail "$program's manifest lacks $setting"
done

[ "$status" -eq 0 ] && echo "import and export tables as on a device; version resources and manifest in place"
exit "$status"
