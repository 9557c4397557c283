#!/bin/sh
# The system's own objects may call the platform and each other and nothing else: no allocation,
# no C++ runtime. And they must carry no static initialisers.
# Usage: check_system_symbols.sh NM OBJDUMP ARCHIVE...
set -eu
nm=$1
objdump=$2
shift 2

allowed="FormatDisplayReport
GXOpenDisplay
GXGetDisplayProperties
GXIsDisplayDRAMBuffer
GXCloseDisplay
MessageBoxW
wsprintfW"

status=0
for archive in "$@"; do
    used=$("$nm" --undefined-only --demangle "$archive" | sed -n 's/^ *U \([^(]*\).*/\1/p')
    unexpected=$(printf '%s\n' "$used" | grep -vxF "$allowed" || true)
    if [ -n "$unexpected" ]; then
        printf 'FAIL: %s uses:\n%s\n' "$archive" "$unexpected"
        status=1
    fi
    if "$objdump" --section-headers "$archive" | grep -Eq '\.(init_array|ctors)'; then
        echo "FAIL: $archive has static initialisers"
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "system objects use only the platform"
exit "$status"
