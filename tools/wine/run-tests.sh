#!/bin/sh
# Runs the Windows test executables under Wine, with COM5 mapped to the
# modem simulator (a native Linux program) on a pseudo-terminal.
#
#   tools/wine/run-tests.sh <windows build dir> <native veskgsm-sim>
#
# Wine maps COM1 to /dev/ttyS0 by itself, and on CI machines /dev/ttyS0 is
# the system console; the script therefore runs in a private mount namespace
# where every /dev/ttyS*, ttyUSB* and ttyACM* is /dev/null. The Wine prefix
# lives in the build dir; every step is bounded in time.
set -eu

BUILD=$(cd "$1" && pwd)
SIM=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
STEP_TIMEOUT=${VESK_WINE_STEP_TIMEOUT:-300}

if [ -z "${VESK_WINE_SANDBOXED:-}" ]; then
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO=sudo
  export VESK_WINE_SANDBOXED=1
  exec $SUDO env VESK_WINE_SANDBOXED=1 VESK_WINE_STEP_TIMEOUT="$STEP_TIMEOUT" \
    unshare --mount --propagation private "$0" "$@"
fi

for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
  [ -e "$dev" ] && mount --bind /dev/null "$dev"
done
# Nothing may reach a real serial device from here on.
for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
  [ -e "$dev" ] || continue
  if [ "$(stat -L -c %t:%T "$dev")" != "$(stat -L -c %t:%T /dev/null)" ]; then
    echo "$dev is still a serial device; refusing to run Wine" >&2
    exit 1
  fi
done

export WINEPREFIX="$BUILD/wine-prefix"
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko installers, no window system.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

RUN="$BUILD/wine-run"
rm -rf "$RUN"
mkdir -p "$RUN"
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true
  timeout 30 wineserver -k 2>/dev/null || true
}
trap cleanup EXIT INT TERM

bounded() { timeout --kill-after=10 "$STEP_TIMEOUT" "$@"; }

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== creating the Wine prefix in $WINEPREFIX"
  bounded wineboot --init >"$RUN/wineboot.log" 2>&1 || { cat "$RUN/wineboot.log"; exit 1; }
  bounded wineserver -w
fi

# The simulator: its console reads the lines the tests append to sim-in.
: >"$RUN/sim-in"
# tail ends with this script, whatever way it ends; the simulator then reads
# the end of its input and stops, and is stopped by the clean-up anyway.
tail -n +1 -F --pid=$$ "$RUN/sim-in" 2>/dev/null | "$SIM" --path "$RUN/modem" --speed 115200 --console >"$RUN/sim-out" 2>&1 &
SIM_PID=$!
i=0
while [ ! -e "$RUN/modem" ]; do
  i=$((i + 1))
  [ $i -gt 100 ] && { echo "the simulator did not start" >&2; cat "$RUN/sim-out" >&2; exit 1; }
  sleep 0.1
done

# COM5 is the simulator; Wine fills HARDWARE\DEVICEMAP\SERIALCOMM from its
# Ports key when the wineserver starts afresh.
bounded wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$RUN/modem" /f >/dev/null
bounded wineserver -k 2>/dev/null || true
bounded wineserver -w
# One wineserver for all the runs, its own output kept apart from theirs.
wineserver -p >"$RUN/wineserver.log" 2>&1

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# One run of a suite: passed only when it says so itself, since a program
# that crashes can still leave Wine with exit status 0. Arguments after the
# log go to the test program.
run_suite() {
  bin=$1 out=$2
  shift 2
  VESK_TEST_COM_PORT=COM5 VESK_TEST_SIM_INPUT="$(winpath "$RUN/sim-in")" \
    VESK_TEST_SIM_OUTPUT="$(winpath "$RUN/sim-out")" \
    bounded wine "$bin" --gtest_brief=1 "$@" >"$out" 2>&1 &&
    grep -Eq '^\[  PASSED  \] [0-9]+ tests?\.' "$out" &&
    ! grep -Eq '^\[  FAILED  \]|Unhandled exception|Unhandled page fault' "$out"
}

# The names of the tests a run reports as failed, one per line.
failed_tests() {
  sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/]*\.[A-Za-z0-9_/.]*\).*/\1/p' "$1" | sort -u
}

# MinGW's thread library is known to fail, rarely and under Wine only, as a
# thread starts: the program crashes in a new thread's start, or the thread
# never runs. A suite that crashed with no failed test is run once more
# whole; a run in which at most three tests failed has those tests run once
# more. Either way the first run is shown, and the suite passes only when
# the second run passes. A test that fails twice, or a run with more
# failures, fails the suite.
MAX_RERUN=3

status=0
for exe in framework_tests codec_tests at_tests component_tests windows_tests; do
  bin="$BUILD/tests/$exe.exe"
  [ -f "$bin" ] || { echo "missing $bin" >&2; status=1; continue; }
  echo "== $exe"
  start=$(date +%s)
  log="$RUN/$exe.log"
  if run_suite "$bin" "$log"; then
    tail -n 3 "$log"
  else
    cat "$log"
    failed=$(failed_tests "$log")
    count=$(printf '%s' "$failed" | grep -c . || true)
    mv "$log" "$RUN/$exe.first.log"
    if [ "$count" -eq 0 ] && grep -Eq 'Unhandled (exception|page fault)' "$RUN/$exe.first.log"; then
      echo "== $exe CRASHED with no test failed; running it once more" >&2
      again=""
    elif [ "$count" -ge 1 ] && [ "$count" -le $MAX_RERUN ]; then
      again=$(printf '%s' "$failed" | tr '\n' ':')
      echo "== $exe: $count test(s) failed; running them once more: $again" >&2
    else
      echo "== $exe FAILED" >&2
      status=1
      echo "   ($(($(date +%s) - start)) s)"
      continue
    fi
    if run_suite "$bin" "$log" ${again:+--gtest_filter=$again}; then
      tail -n 3 "$log"
      echo "== $exe passed on its second run (first run: $RUN/$exe.first.log)"
    else
      cat "$log"
      echo "== $exe FAILED" >&2
      status=1
    fi
  fi
  echo "   ($(($(date +%s) - start)) s)"
done
exit $status
