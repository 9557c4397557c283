#!/usr/bin/env bash
# One end-to-end case: the box reader runs the program on a started wine-screen, and what it reads
# from the box, followed by the debug strings the programs wrote, must be exactly the expected file.
# Usage: e2e_case.sh WINE_SCREEN STATE BIN EXPECTED SIMULATION BOX_READER_ARGS...
# SIMULATION, if not empty, becomes GX_SIMULATED_DISPLAY. E2E_CASE_SECONDS is how long the box reader
# may take, set by the test well inside its own timeout, so that a hang still shows Wine's log.
set -euo pipefail
wine_screen=$1 state=$2 bin=$3 expected=$4 simulation=$5
shift 5
skip_status=77
limit=${E2E_CASE_SECONDS:?how long the box reader may take}

if [ -n "$simulation" ]; then
    export GX_SIMULATED_DISPLAY="$simulation"
fi
log=$(mktemp) out=$(mktemp)
trap 'rm -f "$log" "$out"' EXIT
status=0
# Into a file, not a pipe: a crash debugger the box reader starts would hold a pipe open past the limit.
timeout "$limit" "$wine_screen" run "$state" "$bin/box_reader.exe" "$@" </dev/null >"$out" 2>"$log" || status=$?
observed=$(cat "$out")
if [ "$status" -eq "$skip_status" ]; then
    printf '%s\n' "$observed"
    exit "$skip_status"
fi
observed+=$'\n'$("$wine_screen" debug-strings <"$log")
observed=${observed%$'\n'}
if [ "$status" -eq 124 ]; then
    "$wine_screen" exec "$state" wineserver --kill || true # and whatever else it started on the screen
    echo "FAIL: the box reader did not end within $limit s; it read:"
    printf '%s\n' "$observed"
    echo "the last lines of Wine's log:"
    tail -n 40 "$log"
    exit 1
fi
if ! diff -u "$expected" <(printf '%s\n' "$observed"); then
    echo "FAIL: the box differs from $expected (- expected, + read); box reader status $status, the last lines of Wine's log:"
    tail -n 40 "$log"
    exit 1
fi
printf '%s\n' "$observed"
