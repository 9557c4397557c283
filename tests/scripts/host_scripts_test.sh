#!/usr/bin/env bash
# The host scripts' decisions: which Wine runs which Windows build (held to what dpkg and the
# loaders' own ELF headers say), and, with stubs for the system's commands and a probe that runs or
# cannot, what install-deps installs, what scripts/run builds and runs, what wine-screen says when a
# step fails, what scripts/test makes of a skipped case, and how the e2e and stand-in cases judge a
# run. Prints each failure and exits with their count.
# Usage: host_scripts_test.sh SOURCE_DIR
# shellcheck disable=SC2015,SC2016,SC2028,SC1091,SC2317
# (`check && check || fail` fails when either check does; code quoted for Python, sed or a stub is
# theirs to expand; the scripts it sources are linted apart, and the helpers it stubs are called there.)
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
        grep -qE "[( ]${package}[ )]" "$scripts/install-deps" || fail "wine-loader $bits names $package, which install-deps does not install"
        [ "$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null)" != installed ] ||
            fail "wine-loader $bits said \"$said\", but dpkg has $package installed"
    elif loader probe >/dev/null; then
        fail "wine-loader $bits said \"$said\", but wine-loader probe runs its program"
    fi
done
# The probe wine-loader writes, in a tree with no build folder yet, is a 32-bit x86 executable: ELF
# class 1, little-endian, type 2, machine 3; it runs, or the kernel refuses it as a format it lacks.
mkdir "$work/fresh" && ln -s "$scripts" "$work/fresh/scripts"
said=$("$work/fresh/scripts/wine-loader" probe) || [[ $said == *"(Exec format error)"* ]] ||
    fail "wine-loader probe failed for another reason than a kernel without 32-bit x86: $said"
header=$({ od -An -tu1 -j4 -N2 "$work/fresh/build/probe-i386" && od -An -tu2 -j16 -N4 "$work/fresh/build/probe-i386"; } | xargs)
[ "$header" = "1 1 2 3" ] || fail "wine-loader probe wrote a program of ELF class, data, type, machine: $header"
default=64
loader 32 >/dev/null && default=32
[ "$(loader default)" = $default ] || fail "wine-loader default gave $(loader default), where wine-loader 32 says $(loader 32)"
for bits in 32 64; do
    other=$((96 - bits))
    got=$(DD_WINDOWS_BITS=$bits loader default)
    why=$(loader $bits) && want=$bits || want="DD_WINDOWS_BITS=$bits chooses the $bits-bit Windows build, which cannot run here: $why"
    [ "$got" = "$want" ] || fail "DD_WINDOWS_BITS=$bits: wine-loader default gave $got"
    got=$(DD_WINDOWS_BITS=$bits loader $other)
    [[ $got == "DD_WINDOWS_BITS=$bits keeps to the $bits-bit build" ]] || fail "DD_WINDOWS_BITS=$bits: wine-loader $other gave $got"
    got=$(DD_WINDOWS_BITS=$bits loader $bits)
    [ "$got" = "$(loader $bits)" ] || fail "DD_WINDOWS_BITS=$bits: wine-loader $bits gave $got, without it $(loader $bits)"
done
got=$(DD_WINDOWS_BITS=16 loader default)
[[ $? = 2 && $got == 'DD_WINDOWS_BITS is "16": 32 or 64 was expected' ]] || fail "DD_WINDOWS_BITS=16: wine-loader default gave $got"

# One stub for the system's commands: each logs its command line; dpkg-query answers not-installed
# for the packages STUB_MISSING matches; apt-get fails where a question would stop it, and cannot
# install wine32:i386, as where no mirror has it; sudo resets the environment;
# a cmake workflow prints STUB_CMAKE_TESTS, windows64's also STUB_CMAKE_SAYS, and wince's fails.
mkdir "$work/bin"
cat >"$work/bin/stub" <<'EOF'
#!/bin/sh
name=$(basename "$0")
echo "$name $*" >>"$STUB_LOG"
case $name in
id) echo "$STUB_UID" ;;
dpkg-query) case "$*" in *'${db:Status-Status}'*" "$STUB_MISSING) printf not-installed ;; *'${db:Status-Status}'*) printf installed ;; esac ;;
apt-get) [ "$DEBIAN_FRONTEND" = noninteractive ] || exit 101; case " $* " in *" wine32:i386 "* | *" $STUB_APT_FAILS "*) exit 100 ;; esac ;;
sudo) exec env -u DEBIAN_FRONTEND "$@" ;;
cmake)
    case "$*" in --workflow*) echo "$STUB_CMAKE_TESTS" ;; esac
    case "$*" in "--workflow --preset windows64") echo "$STUB_CMAKE_SAYS" ;; "--workflow --preset wince") exit 1 ;; esac
    exit "$STUB_CMAKE_STATUS" ;;
Xvfb) echo 99 >&3 ;;
wineserver) [ "$1" != --persistent ] || { seq 20 && echo "wineserver: cannot start in $WINEPREFIX" && exit 1; } ;;
esac
EOF
chmod +x "$work/bin/stub"
for name in id dpkg-query dpkg apt-get sudo cmake qemu-arm Xvfb wineserver; do ln -s stub "$work/bin/$name"; done
unset DEBIAN_FRONTEND
export PATH=$work/bin:$PATH STUB_LOG=$work/log STUB_MISSING='' STUB_CMAKE_STATUS=0 STUB_APT_FAILS=none STUB_CMAKE_TESTS="100% tests passed" STUB_UID=0 \
    STUB_CMAKE_SAYS='1/1 Test  #1: e2e_case ...   Passed'
printf '#!/bin/sh\n' >"$work/runs"
printf '\177ELF\0' >"$work/cannot-run" # the kernel refuses it, as a kernel without IA-32 refuses i386
chmod +x "$work/runs" "$work/cannot-run"
printf '#!/bin/sh\nexit 3\n' >"$work/fails"
chmod +x "$work/fails"
said=$(DD_PROBE_PROGRAM=$work/fails loader probe)
[[ $said == *"(exit status 3)"* ]] || fail "wine-loader probe, its program exiting 3 without a word, said: $said"
for probe in runs cannot-run; do
    export DD_PROBE_PROGRAM=$work/$probe
    said=$(loader probe)
    status=$?
    [[ $probe/$status == @(runs/0|cannot-run/1) &&
        $said == "host: $(tr - ' ' <<<$probe) 32-bit x86 programs"@(", "|" (Exec format error), ")* ]] ||
        fail "$probe: wine-loader probe said $said, with status $status"
    [ $probe = runs ] || [ "$(loader default)" = 64 ] || fail "$probe: wine-loader default gave $(loader default)"
    # Nothing installed, then only 32-bit Wine missing; its failed install leaves the 64-bit path.
    for missing in '*' '*:i386'; do
        : >"$STUB_LOG"
        said=$(STUB_MISSING=$missing "$scripts/install-deps") ||
            fail "$probe: install-deps, $missing missing, exited $?: $said"
        installed=$(grep '^apt-get install' "$STUB_LOG" | tr '\n' ' ')
        [[ $missing != '*' || $installed == "apt-get install -y "*" wine wine64 xvfb imagemagick "*" qemu-user "*" gcab cabextract "* ]] ||
            fail "$probe: install-deps, nothing installed, ran: $installed"
        ran=$(grep -v '^dpkg-query ' "$STUB_LOG")
        [ "$(grep -cE 'wine32:i386|--add-architecture i386' <<<"$ran")" = "$([ $probe = runs ] && echo 2 || echo 0)" ] &&
            [[ $probe = cannot-run || $(grep -m1 -E -- '--add-architecture|^apt-get update' <<<"$ran") == dpkg* ]] ||
            fail "$probe: install-deps, $missing missing, ran (i386 added before the indexes are read?): $ran"
        [[ $probe = cannot-run || $said == *"install-deps: without 32-bit Wine the 32-bit Windows build is built"* ]] ||
            fail "$probe: install-deps, wine32:i386 failing to install, said: $said"
    done
done
: >"$STUB_LOG"
"$scripts/install-deps" >/dev/null
! grep -v '^dpkg-query ' "$STUB_LOG" || fail "install-deps, everything installed, ran the commands above"
: >"$STUB_LOG"
STUB_MISSING=gcab "$scripts/install-deps" >/dev/null 2>&1
grep -q "^apt-get install .* gcab$" "$STUB_LOG" || fail "install-deps, only gcab missing, ran: $(grep ^apt-get "$STUB_LOG")"
: >"$STUB_LOG"
STUB_MISSING='*' STUB_UID=1000 "$scripts/install-deps" >/dev/null 2>&1
grep -q "^sudo env DEBIAN_FRONTEND=noninteractive apt-get install" "$STUB_LOG" || fail "install-deps, not run as root, ran: $(grep ^apt-get "$STUB_LOG")"
said=$(STUB_MISSING='*' STUB_APT_FAILS=gcab "$scripts/install-deps" 2>&1) &&
    fail "install-deps, gcab failing to install, exited 0: $said"
: >"$STUB_LOG"
said=$(STUB_MISSING='*' STUB_APT_FAILS=update "$scripts/install-deps" 2>&1) && grep -q '^apt-get install' "$STUB_LOG" ||
    fail "install-deps, the package indexes failing to read, said: $said"
# What the Python tools and checks import from outside Python's own library, install-deps installs as
# python3-MODULE: without it a fresh host fails in the checks.
for module in $(cd "$1" && git ls-files '*.py' | xargs /usr/bin/python3 -c '
import ast, sys
ours = {path.rsplit("/", 1)[-1][:-3] for path in sys.argv[1:]} | sys.stdlib_module_names
for node in (node for path in sys.argv[1:] for node in ast.walk(ast.parse(open(path).read()))):
    names = [a.name for a in node.names] if isinstance(node, ast.Import) else [node.module] if isinstance(node, ast.ImportFrom) else []
    print(*(name.split(".")[0] for name in names if name and name.split(".")[0] not in ours))' | sort -u); do
    grep -qE "[( ]python3-${module}[ )]" "$scripts/install-deps" || fail "the Python imports $module, which install-deps does not install"
done

# scripts/test runs every workflow but coverage, which measures rather than tests.
listed=$(sed -n 's/^for preset in \(.*\); do$/\1/p' "$scripts/test")
workflows=$(/usr/bin/python3 -c 'import json, sys
print(*(p["name"] for p in json.load(open(sys.argv[1]))["workflowPresets"] if p["name"] != "coverage"))' "$1/CMakePresets.json")
[ "$listed" = "$workflows" ] || fail "scripts/test runs the presets $listed, not every workflow's: $workflows"
# Each configure preset builds in build/NAME, where the scripts look for it.
elsewhere=$(/usr/bin/python3 -c 'import json, sys
print(*(p["name"] for p in json.load(open(sys.argv[1]))["configurePresets"]
        if p.get("binaryDir") != "${sourceDir}/build/" + p["name"]))' "$1/CMakePresets.json")
[ -z "$elsewhere" ] || fail "configure presets that do not build in build/NAME: $elsewhere"

# scripts/run configures the build it runs, and passes --device's options to the stand-in or, with
# --cab, to the CAB installer (a stub logging its arguments), in a tree with the scripts and a CAB.
mkdir -p "$work/tree/stand_ins" "$work/tree/build/wince" "$work/tree/scripts"
ln -s "$scripts"/* "$work/tree/scripts/"
ln -s "$1/device_tools" "$work/tree/"
# A wine-screen whose box reader reads a box, is told to press OK and exits with STUB_READER_STATUS.
rm "$work/tree/scripts/wine-screen"
printf '%s\n' '#!/bin/sh' 'echo "wine-screen $*" >>"$STUB_LOG"' \
    '[ "$1" != run ] || { echo "buttons: 1 \"OK\"" && read -r _ && exit "${STUB_READER_STATUS:-0}"; }' >"$work/tree/scripts/wine-screen"
chmod +x "$work/tree/scripts/wine-screen"
echo 'import os, sys; open(os.environ["STUB_LOG"], "a").write(" ".join(sys.argv) + "\n")' >"$work/tree/stand_ins/cab_installer.py"
cab=build/wince/DisplayDiagnostics-1.0.0-ARMV4I.cab stand_in='qemu-arm -L /usr/arm-linux-gnueabi \S*/wince_stand_in'
touch "$work/tree/$cab" "$work/tree/build/wince/DisplayDiagnostics-1.0.0-MIPS.cab"
for bits in 64 ""; do
    expected=windows$(DD_WINDOWS_BITS=$bits loader default | grep -x 64)
    : >"$STUB_LOG"
    said=$(DD_WINDOWS_BITS=$bits env -u DISPLAY "$work/tree/scripts/run" 2>&1)
    [[ -n $bits || $expected = windows || $said == *"64-bit Windows build under "*", because $(loader 32)"* ]] ||
        fail "scripts/run, where only the 64-bit build runs, did not say why: $said"
    grep -qx "cmake --preset $expected" "$STUB_LOG" && grep -qx "cmake --build --preset $expected" "$STUB_LOG" &&
        grep -q ^dpkg-query "$STUB_LOG" ||
        fail "DD_WINDOWS_BITS=$bits scripts/run, to install what is missing, then configure and build $expected, ran: $(grep -v ^dpkg-query "$STUB_LOG")"
    grep -q "^wine-screen start \S* 240x320x16 " "$STUB_LOG" || fail "scripts/run, headless, started: $(grep ^wine-screen "$STUB_LOG")"
done
said=$(STUB_READER_STATUS=3 env -u DISPLAY "$work/tree/scripts/run" 2>&1)
[[ $? != 0 && $said == *"ending the run (box reader exit status 3) failed"* ]] || fail "scripts/run, its box reader failing after OK, said: $said"
# A build DD_WINDOWS_BITS chooses that this host cannot run is refused before anything is built.
for script in run test; do
    : >"$STUB_LOG"
    said=$(DD_WINDOWS_BITS=32 env -u DISPLAY "$work/tree/scripts/$script" 2>&1)
    [[ $? != 0 && $said == *"DD_WINDOWS_BITS=32 chooses the 32-bit Windows build, which cannot run here: this host cannot"* ]] &&
        ! grep -q ^cmake "$STUB_LOG" || fail "DD_WINDOWS_BITS=32 scripts/$script, where 32-bit programs cannot run, said: $said"
done
for case in "--device ARMV4I --base 0x20000000|$stand_in --base 0x20000000 \S*/ARMV4I/DisplayDiagnostics.exe" \
    "--device|$stand_in \S*/ARMV4/DisplayDiagnostics.exe" "--device ARMV4|$stand_in \S*/ARMV4/DisplayDiagnostics.exe" \
    "--device ARMV4I-HiRes|$stand_in \S*/ARMV4I/DisplayDiagnostics-HiRes.exe" \
    "--device ARMV4I-HiRes --cab|\S*cab_installer.py --processor 2577 --program DisplayDiagnostics-HiRes.exe $cab \S* $stand_in" \
    "--device armv4i --cab|\S*cab_installer.py --processor 2577 --program DisplayDiagnostics.exe $cab \S* $stand_in" \
    "--device mips --cab|\S*cab_installer.py --processor 4000 --program \S* \S*-MIPS.cab \S* qemu-mipsel \S* \S* \S*/mips/\S*"; do
    : >"$STUB_LOG"
    read -r -a options <<<"${case%|*}"
    mkdir -p "$work/tree/build/wince/device/left over" # from another image's CAB
    "$work/tree/scripts/run" "${options[@]}" >/dev/null
    [[ ${case%|*} != *--cab || ! -e "$work/tree/build/wince/device/left over" ]] || fail "scripts/run ${case%|*} kept an earlier device's files"
    grep -qP "^${case#*|}$" "$STUB_LOG" && grep -qx "cmake --build --preset wince" "$STUB_LOG" &&
        ! grep -q "preset windows" "$STUB_LOG" ||
        fail "scripts/run ${case%|*} ran: $(grep -v ^dpkg-query "$STUB_LOG")"
done

# An unknown device or option is refused by name, before anything is built.
for options in "--bogus" "--device SH4" "--device MIPS --bogus"; do
    : >"$STUB_LOG"
    read -r -a words <<<"$options"
    said=$("$work/tree/scripts/run" "${words[@]}" 2>&1) && fail "scripts/run $options exited 0"
    [[ $said == *"${options##* }"* ]] && ! grep -q ^cmake "$STUB_LOG" || fail "scripts/run $options said: $said"
done

# scripts/test fails when a workflow fails (the stubbed wince one) or runs no tests, and before that
# when a set this host runs skipped a case or ran none.
if loader 64 >/dev/null; then
    said=$(STUB_CMAKE_SAYS='3/9 Test  #3: e2e_case ...***Skipped' "$work/tree/scripts/test" 2>&1)
    [[ $said == *"the 64-bit e2e set failed: it skipped e2e_case, but"* ]] || fail "scripts/test, a 64-bit case skipped, said: $said"
    said=$(STUB_CMAKE_SAYS='' "$work/tree/scripts/test" 2>&1)
    [[ $said == *"the 64-bit e2e set failed: it ran no case"* ]] || fail "scripts/test, no 64-bit case run, said: $said"
fi
said=$("$work/tree/scripts/test" 2>&1) && fail "scripts/test, the wince workflow failing, exited 0"
[[ $said == *"scripts/test: the wince workflow failed"* ]] || fail "scripts/test, the wince workflow failing, said: $said"
set32=$(loader 32 >/dev/null && echo runs || echo "is skipped: $(loader 32)")
[[ $said == *"=== windows: the 32-bit Windows build; the 32-bit e2e set $set32"$'\n'* ]] ||
    fail "scripts/test did not say the 32-bit e2e set $set32: $said"
said=$(STUB_CMAKE_TESTS='' "$work/tree/scripts/test" 2>&1)
[[ $said == *"scripts/test: the host workflow failed: it ran no tests"* ]] || fail "scripts/test, no tests run, said: $said"

# scripts/bench's helpers: the middle of an odd count, in numeric order, the mean of the middle two
# of an even one; each launch ratio against its own baseline; the report's ratio of its medians.
got=$( (source "$scripts/bench" && printf '%s\n' 3 1 2 | median && printf '%s\n' 4 1 3 2 | median &&
    printf '%s\n' 9 10 100 | median && preset_for 32 && preset_for 64) | xargs)
[ "$got" = "2 2.5 10 windows windows64" ] ||
    fail "scripts/bench: median of 3 1 2, of 4 1 3 2, of 9 10 100, preset_for 32, 64 gave: $got"
printf '%s\n' "10 5 4" "20 10 5" "30 10 10" >"$work/runs" # program, manifest, bare
got=$(source "$scripts/bench" && launch_summary 64 "$work/runs" | sed 's/^launch, 64-bit: //')
[ "$got" = "DisplayDiagnostics.exe 20.0 ms, minimal box with its manifest 10.0 ms, bare 5.0 ms (medians of 3)
against the minimal box with its manifest, ratio 2.000 (medians); median of paired ratios 2.000
against the minimal box bare, ratio 4.000 (medians); median of paired ratios 3.000" ] ||
    fail "scripts/bench: launch ratios of 10 5 4, 20 10 5, 30 10 10: $got"
got=$(source "$scripts/bench" && printf '"%s",25,0,%s\n' FormatDisplayReportHost_median 30 SwprintfBaseline_mean 1 \
    SwprintfBaseline_median 60 | report_summary)
[[ $got == *"ns (medians of 25)"*"report: ratio 0.50 (composer / swprintf"* ]] || fail "scripts/bench: report of 30 and 60 ns: $got"
got=$(source "$scripts/bench" && report() { :; } && launch() { false; } && run_benchmarks report launch 2>&1 && run_benchmarks report)
[ "$got" = "scripts/bench: failed: launch" ] || fail "scripts/bench: report passing and launch failing: $got"

# A relative STATE is made absolute (Wine needs its prefix so), a failed step shows its log, and the
# screen STATE had before (a sleep standing in for its Xvfb) is stopped.
mkdir "$work/state"
sleep 30 &
xvfb=$!
echo $xvfb >"$work/state/xvfb.pid"
said=$(cd "$work" && "$scripts/wine-screen" start state 240x320x16 "$(loader default)" 2>&1 >/dev/null)
[[ $said == "wine-screen: starting the Wine server failed: "*$'\n'"    wineserver: cannot start in $work/state/prefix"* ]] ||
    fail "wine-screen start, its Wine server failing, said on standard error: $said"
[[ $(ps -o stat= -p $xvfb) != [^Z]* ]] || fail "wine-screen start left the screen STATE had running: $(ps -o args= -p $xvfb)"
kill $xvfb 2>/dev/null

# e2e_case.sh with a wine-screen that shows one box and logs one debug string: the expected box
# passes, another fails (even by a trailing tab or a blank line alone), a skip stays a skip, and a hang
# is told as one.
cat >"$work/wine-screen" <<'EOF'
#!/bin/sh
[ "$1" = run ] || exec "$REAL_WINE_SCREEN" "$@"
[ "$BOX_STATUS" != hang ] || exec sleep 5
case $GX_SIMULATED_DISPLAY in +*) echo ;; esac # a blank line first
echo "box for ${GX_SIMULATED_DISPLAY#+}" && printf '%s\n' '0184:warn:seh:OutputDebugStringA "GX.dll: why\\not\n"' >&2
exit "$BOX_STATUS"
EOF
chmod +x "$work/wine-screen"
printf '%s\n' 'box for 1,2' 'debug: GX.dll: why\not' >"$work/expected" # Wine writes a backslash doubled
mkdir "$work/tmp"
for case in "0|1,2|0" "0|1,3|1" $'0|1,2\t|1' "0|+1,2|1" "77|1,2|77"; do
    IFS='|' read -r status simulation expected <<<"$case"
    said=$(TMPDIR=$work/tmp E2E_CASE_SECONDS=10 BOX_STATUS=$status REAL_WINE_SCREEN=$scripts/wine-screen "$1/tests/e2e/e2e_case.sh" "$work/wine-screen" \
        "$work/state" "$work" "$work/expected" "$simulation" 2>&1)
    got=$?
    [ $got = "$expected" ] || fail "e2e_case.sh, the box exiting $status for $simulation, exited $got: $said"
done
said=$(TMPDIR=$work/tmp E2E_CASE_SECONDS=1 BOX_STATUS=hang REAL_WINE_SCREEN=$scripts/wine-screen "$1/tests/e2e/e2e_case.sh" "$work/wine-screen" \
    "$work/state" "$work" "$work/expected" "" 2>&1)
[[ $? = 1 && $said == *"FAIL: the box reader did not end within 1 s"* ]] || fail "e2e_case.sh, the box hanging, said: $said"
[ -z "$(ls -A "$work/tmp")" ] || fail "e2e_case.sh left its files: $(ls "$work/tmp")"

# stand_in_case.sh with a stand-in that prints the expected box, then ends as each case says.
for case in "exit 0|0" "exit 3|1" "echo|1"; do
    sh "$1/tests/stand_ins/stand_in_case.sh" "$work/expected" "" sh -c "cat '$work/expected'; ${case%|*}" >/dev/null
    got=$?
    [ $got = "${case#*|}" ] || fail "stand_in_case.sh, the stand-in printing the box, then '${case%|*}', exited $got"
done

[ $failures -eq 0 ] && echo "the host scripts decide as this host and the stubs say"
exit $failures
