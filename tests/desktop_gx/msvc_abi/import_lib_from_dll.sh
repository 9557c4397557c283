#!/bin/sh
# A Microsoft-format import library for a DLL, made from the names the DLL really exports: a caller
# links against it only if every name its compiler computed is one the DLL has.
# Usage: import_lib_from_dll.sh OBJDUMP LLVM_DLLTOOL MACHINE DLL OUTPUT.lib
set -eu
objdump=$1
dlltool=$2
machine=$3
dll=$4
lib=$5

def=${lib%.lib}.def
{
    echo "LIBRARY $(basename "$dll")"
    echo "EXPORTS"
    "$objdump" -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/ s/^[[:space:]]*\[ *[0-9]*\] //p'
} >"$def"
"$dlltool" -m "$machine" -d "$def" -l "$lib"
