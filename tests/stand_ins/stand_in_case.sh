#!/bin/sh
# One run of a device image in the CE stand-in: what it prints must be exactly the expected file that
# the run under Wine is held to.
# Usage: stand_in_case.sh EXPECTED SIMULATION STAND_IN_COMMAND...
# SIMULATION, if not empty, becomes GX_SIMULATED_DISPLAY.
set -eu
expected=$1 simulation=$2
shift 2

[ -z "$simulation" ] || export GX_SIMULATED_DISPLAY="$simulation"
# A file, not $(...), which would drop the trailing blank lines a faulty run prints.
printed=$(mktemp)
trap 'rm -f "$printed"' EXIT
status=0
"$@" >"$printed" || status=$?
if [ "$status" -ne 0 ] || ! diff -u "$expected" "$printed"; then
    echo "FAIL: the run differs from $expected (- expected, + printed); stand-in status $status"
    exit 1
fi
cat "$printed"
