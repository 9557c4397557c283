#!/usr/bin/env bash
# The host scripts' decisions: which Wine runs which Windows build (held to what dpkg and the
# loaders' own ELF headers say), and, with stubs for the system's commands and a probe that runs or
# cannot, what install-deps installs, what scripts/run builds and runs, and what wine-screen says
# when a step fails. Prints each failure and exits with their count.
# Usage: host_scripts_test.sh SOURCE_DIR
set -uo pipefail
scripts=$1/scripts
work=$(realpath "$(mktemp -d)")
trap 'rm -rf "$work"' EXIT
unset DD_WINDOWS_BITS DD_PROBE_PROGRAM
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
loader() { "$scripts/wine-loader" "$@" 2>&1; }

# A loader given runs that build (ELF class 1 is 32-bit, 2 is 64-bit); a reason given is true.
for bits in 32 64; do
    if said=$(loader $bits); then
        class=$(od -An -tu1 -j4 -N1 "$said" | tr -d ' ')
        [ "$class" = $((bits / 32)) ] || fail "wine-loader $bits gave $said, of ELF class $class"
    elif package=$(sed -n 's/.*(\(.*\)) is not installed$/\1/p' <<<"$said") && [ -n "$package" ]; then
        [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ] ||
            fail "wine-loader $bits said \"$said\", but dpkg has $package installed"
    elif loader probe >/dev/null; then
        fail "wine-loader $bits said \"$said\", but wine-loader probe runs its program"
    fi
done
default=64
loader 32 >/dev/null && default=32
[ "$(loader default)" = $default ] || fail "wine-loader default gave $(loader default), where wine-loader 32 says $(loader 32)"
for bits in 32 64; do
    other=$((96 - bits))
    got=$(DD_WINDOWS_BITS=$bits loader default)
    [ "$got" = $bits ] || fail "DD_WINDOWS_BITS=$bits: wine-loader default gave $got"
    got=$(DD_WINDOWS_BITS=$bits loader $other)
    [[ $got == "DD_WINDOWS_BITS=$bits keeps to the $bits-bit build" ]] || fail "DD_WINDOWS_BITS=$bits: wine-loader $other gave $got"
    got=$(DD_WINDOWS_BITS=$bits loader $bits)
    [ "$got" = "$(loader $bits)" ] || fail "DD_WINDOWS_BITS=$bits: wine-loader $bits gave $got, without it $(loader $bits)"
done

# One stub for the system's commands: each logs its command line; dpkg-query answers STUB_STATUS.
mkdir "$work/bin"
cat >"$work/bin/stub" <<'EOF'
#!/bin/sh
name=$(basename "$0")
echo "$name $*" >>"$STUB_LOG"
case $name in
dpkg-query) printf '%s' "$STUB_STATUS" ;;
sudo) exec "$@" ;;
cmake) exit "$STUB_CMAKE_STATUS" ;;
Xvfb) echo 99 >&3 ;;
wineserver) echo "wineserver: cannot start in $WINEPREFIX" && exit 1 ;;
esac
EOF
chmod +x "$work/bin/stub"
for name in dpkg-query dpkg apt-get sudo cmake qemu-arm Xvfb wineserver; do ln -s stub "$work/bin/$name"; done
export PATH=$work/bin:$PATH STUB_LOG=$work/log STUB_STATUS=installed STUB_CMAKE_STATUS=0
printf '#!/bin/sh\n' >"$work/runs"
printf '\177ELF\0' >"$work/cannot-run" # the kernel refuses it, as a kernel without IA-32 refuses i386
chmod +x "$work/runs" "$work/cannot-run"
for probe in runs cannot-run; do
    export DD_PROBE_PROGRAM=$work/$probe
    said=$(loader probe)
    status=$?
    [[ $probe/$status == @(runs/0|cannot-run/1) && $said == "host: $(tr - ' ' <<<$probe) 32-bit x86 programs"* ]] ||
        fail "$probe: wine-loader probe said $said, with status $status"
    [ $probe = runs ] || [ "$(loader default)" = 64 ] || fail "$probe: wine-loader default gave $(loader default)"
    : >"$STUB_LOG"
    STUB_STATUS=not-installed "$scripts/install-deps" >/dev/null
    installed=$(grep '^apt-get install' "$STUB_LOG")
    [[ $installed == *" wine64 "* ]] || fail "$probe: install-deps, nothing installed, ran: $installed"
    ran=$(grep -v '^dpkg-query ' "$STUB_LOG")
    [ "$(grep -cE 'wine32:i386|--add-architecture i386' <<<"$ran")" = "$([ $probe = runs ] && echo 2 || echo 0)" ] ||
        fail "$probe: install-deps, nothing installed, ran: $ran"
done
: >"$STUB_LOG"
"$scripts/install-deps" >/dev/null
! grep -v '^dpkg-query ' "$STUB_LOG" || fail "install-deps, everything installed, ran the commands above"

# scripts/run configures the build it runs, and passes --device's options to the stand-in.
for bits in 64 ""; do
    expected=windows$(DD_WINDOWS_BITS=$bits loader default | grep -x 64)
    : >"$STUB_LOG"
    DD_WINDOWS_BITS=$bits STUB_CMAKE_STATUS=1 "$scripts/run" >/dev/null 2>&1
    grep -qx "cmake --preset $expected" "$STUB_LOG" || fail "DD_WINDOWS_BITS=$bits scripts/run ran: $(grep ^cmake "$STUB_LOG")"
done
for case in "--device ARMV4I --base 0x20000000|wince_stand_in --base 0x20000000 \S*/ARMV4I/" "--device|wince_stand_in \S*/ARMV4/"; do
    : >"$STUB_LOG"
    read -r -a options <<<"${case%|*}"
    "$scripts/run" "${options[@]}" >/dev/null
    grep -qP "^qemu-arm .*${case#*|}DisplayDiagnostics.exe$" "$STUB_LOG" || fail "scripts/run ${case%|*} ran: $(grep ^qemu "$STUB_LOG")"
done

# A relative STATE is made absolute (Wine needs its prefix so), and a failed step shows its log.
said=$(cd "$work" && "$scripts/wine-screen" start state 240x320x16 "$(loader default)" 2>&1)
[[ $said == *$'\n'"    wineserver: cannot start in $work/state/prefix"* ]] || fail "wine-screen start, its Wine server failing, said: $said"

# e2e_case.sh with a wine-screen that shows one box and logs one debug string: the expected box
# passes, another fails, a skip stays a skip.
cat >"$work/wine-screen" <<'EOF'
#!/bin/sh
[ "$1" = run ] || exec "$REAL_WINE_SCREEN" "$@"
echo "box for $GX_SIMULATED_DISPLAY" && printf '%s\n' '0184:warn:seh:OutputDebugStringA "GX.dll: why\n"' >&2
exit "$BOX_STATUS"
EOF
chmod +x "$work/wine-screen"
printf 'box for 1,2\ndebug: GX.dll: why\n' >"$work/expected"
for case in "0 1,2 0" "0 1,3 1" "77 1,2 77"; do
    read -r status simulation expected <<<"$case"
    said=$(BOX_STATUS=$status REAL_WINE_SCREEN=$scripts/wine-screen "$1/tests/e2e/e2e_case.sh" "$work/wine-screen" \
        "$work/state" "$work" "$work/expected" "$simulation" 2>&1)
    got=$?
    [ $got = "$expected" ] || fail "e2e_case.sh, the box exiting $status for $simulation, exited $got: $said"
done

[ $failures -eq 0 ] && echo "the host scripts decide as this host and the stubs say"
exit $failures
