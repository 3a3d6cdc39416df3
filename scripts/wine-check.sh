#!/usr/bin/env bash
# The Windows check: builds the Qt-free core, the console front end and the
# unit tests as 64-bit Windows programs (mingw-w64), and runs them under Wine
# against the virtual device of the Linux build:
#
#   - the engine and Windows unit tests (win32_tests gets a COM port with a
#     virtual device behind it);
#   - pelmark-flash.exe --list-ports lists a pseudo-terminal mapped as a COM
#     port, with its friendly name;
#   - pelmark-flash.exe --port COMn writes the build's firmware (slot 9,
#     PIC18F26K80) into pelmark-devsim, and the device then holds exactly
#     what the Linux pelmark-flash writes into a second one.
#
# Usage: scripts/wine-check.sh [-v] [NATIVE_BUILD_DIR]
#   NATIVE_BUILD_DIR  the Linux build with pelmark-devsim, pelmark-fwgen and
#                     pelmark-flash (default: $PELMARK_BUILD, else build/);
#                     the three are built there when missing.
#   -v                show every step's output (also PELMARK_VERBOSE=1).
# Environment: PELMARK_WIN_BUILD (default build-win/), PELMARK_JOBS (default 2),
#   PELMARK_KEEP_WINE=1 keeps the scratch folder with the Wine prefix and logs.
#
# Installs g++-mingw-w64-x86-64, wine, wine64 and googletest when missing (a
# 64-bit prefix needs no i386 packages). Every Wine call has a time-out; the
# exit status is non-zero on any failure; the last line reads
# "wine-check: N passed, M failed (S s)".
JOBS="${PELMARK_JOBS:-2}"
PELMARK_JOBS="$JOBS"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ROOT="$PELMARK_ROOT"
VERBOSE="${PELMARK_VERBOSE:-0}"
if [ "${1:-}" = "-v" ]; then
  VERBOSE=1
  shift
fi
NATIVE="$(realpath -m "${1:-${PELMARK_BUILD:-$ROOT/build}}")"
WIN_BUILD="$(realpath -m "$PELMARK_WIN_BUILD")"
PACKAGES=("${PELMARK_CROSS_PACKAGES[@]}" wine wine64)

COM_TESTS=41   # the unit tests' port
COM_FLASH=42   # the port pelmark-flash.exe writes through
FRIENDLY="Pelmark virtual device (COM$COM_FLASH)"

START=$(date +%s)
WORK="$(mktemp -d /tmp/pelmark-wine.XXXXXX)"
LOG="$WORK/wine-check.log"
: >"$LOG"
passed=0
failed=0
DEVICE_PIDS=()

export WINEPREFIX="$WORK/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer dialogs
unset DISPLAY WAYLAND_DISPLAY

say() { echo "wine-check: $*"; }
log() {
  echo "== $*" >>"$LOG"
  if [ "$VERBOSE" = 1 ]; then echo "== $*"; fi
}

# Runs a command with its output in the log (and on the terminal with -v).
run() {
  if [ "$VERBOSE" = 1 ]; then
    "$@" 2>&1 | tee -a "$LOG"
    return "${PIPESTATUS[0]}"
  fi
  "$@" >>"$LOG" 2>&1
}

fail_setup() {
  say "$1 (log: $LOG)"
  tail -n 40 "$LOG" >&2
  PELMARK_KEEP_WINE=1
  exit 1
}

pass() { passed=$((passed + $1)); log "pass: $2"; }
fail() {
  failed=$((failed + $1))
  say "FAILED: $2"
}

wine_run() {  # wine_run SECONDS program args...
  local limit=$1
  shift
  timeout --kill-after=10 "$limit" wine "$@"
}

# Lets Wine's server end, so nothing of Wine holds a terminal any more.
wine_settle() {
  timeout 60 wineserver -w 2>>"$LOG" || timeout 10 wineserver -k 2>>"$LOG" || true
}

cleanup() {
  local rc=$?
  if [ -d "$WINEPREFIX" ]; then wine_settle; fi
  for pid in "${DEVICE_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ "${PELMARK_KEEP_WINE:-0}" = 1 ]; then
    echo "wine-check: scratch folder kept: $WORK" >&2
  else
    rm -rf "$WORK"
  fi
  exit "$rc"
}
trap cleanup EXIT

# ---- Packages ---------------------------------------------------------------------
run pelmark_install_packages "${PACKAGES[@]}" || fail_setup "installing ${PACKAGES[*]} failed"
T_PACKAGES=$(date +%s)

# ---- Linux tools: the generator, the virtual device, the reference flasher -------
run pelmark_build_missing "$NATIVE" tools/fwgen/pelmark-fwgen devsim/pelmark-devsim cli/pelmark-flash \
  -- -DPELMARK_BUILD_GUI=OFF -DPELMARK_BUILD_TESTS=OFF || fail_setup "building the Linux tools in $NATIVE failed"
DEVSIM="$NATIVE/devsim/pelmark-devsim"
FLASH_LINUX="$NATIVE/cli/pelmark-flash"

# ---- Cross build ------------------------------------------------------------------
log "cross build in $WIN_BUILD"
run pelmark_cross_configure "$NATIVE" "$WIN_BUILD" || fail_setup "configuring the cross build failed"
run cmake --build "$WIN_BUILD" -j "$JOBS" --target pelmark-flash engine_tests win32_tests pelmark-register-port ||
  fail_setup "the cross build failed"
FLASH_EXE="$WIN_BUILD/cli/pelmark-flash.exe"
T_BUILD=$(date +%s)

# ---- Wine prefix and the virtual devices -----------------------------------------
# The prefix first: a dosdevices folder made before it exists makes the set-up spin.
log "new Wine prefix $WINEPREFIX"
run timeout --kill-after=10 300 wineboot -i || fail_setup "wineboot -i failed"
wine_settle

# start_device NAME args...: runs pelmark-devsim, sets DEVICE_PTY.
start_device() {
  local name=$1
  shift
  "$DEVSIM" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" &
  DEVICE_PIDS+=($!)
  for _ in $(seq 100); do
    [ -s "$WORK/$name.out" ] && break
    sleep 0.05
  done
  DEVICE_PTY="$(head -n 1 "$WORK/$name.out")"
  [ -c "$DEVICE_PTY" ] || fail_setup "pelmark-devsim ($name) did not start: $(cat "$WORK/$name.err")"
  log "device $name on $DEVICE_PTY"
}

start_device tests
PTY_TESTS="$DEVICE_PTY"
start_device flash --dump "$WORK/windows.hex"
PID_FLASH="${DEVICE_PIDS[-1]}"
PTY_FLASH="$DEVICE_PTY"

# Wine opens COMn as the host device named under HKLM\Software\Wine\Ports;
# the mapping takes effect when Wine next starts.
for map in "COM$COM_TESTS=$PTY_TESTS" "COM$COM_FLASH=$PTY_FLASH"; do
  run wine_run 60 reg add 'HKLM\Software\Wine\Ports' /v "${map%%=*}" /t REG_SZ /d "${map#*=}" /f ||
    fail_setup "mapping ${map%%=*} failed"
done
wine_settle
T_PREFIX=$(date +%s)

# ---- Unit tests -------------------------------------------------------------------
# run_tests NAME EXE [env...]: counts passed, failed and skipped tests.
run_tests() {
  local name=$1 exe=$2
  shift 2
  local out="$WORK/$name.txt" rc=0
  env "$@" timeout --kill-after=10 600 wine "$exe" >"$out" 2>&1 || rc=$?
  cat "$out" >>"$LOG"
  tr -d '\r' <"$out" >"$out.unix"
  local ok bad skipped
  ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$out.unix" | tail -n 1)
  bad=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$out.unix" | tail -n 1)
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$out.unix" | tail -n 1)
  ok=${ok:-0}
  bad=${bad:-0}
  skipped=${skipped:-0}
  if [ "$VERBOSE" = 1 ]; then grep -E "^\[  (PASSED|FAILED|SKIPPED) \]" "$out.unix" || true; fi
  pass "$ok" "$name: $ok tests"
  if [ "$bad" -gt 0 ] || [ "$skipped" -gt 0 ]; then
    fail $((bad + skipped)) "$name: $bad failed, $skipped skipped"
    grep -E '^\[  (FAILED|SKIPPED) \]|Failure|error' "$out.unix" | head -n 40 >&2 || true
  elif [ "$rc" -ne 0 ] || [ "$ok" -eq 0 ]; then
    fail 1 "$name: exit status $rc"
    tail -n 20 "$out.unix" >&2
  fi
}

log "unit tests"
run_tests engine_tests "$WIN_BUILD/tests/engine/engine_tests.exe"
run_tests win32_tests "$WIN_BUILD/tests/win32/win32_tests.exe" PELMARK_TEST_COM="$COM_TESTS"
wine_settle
T_TESTS=$(date +%s)

# ---- Port discovery ---------------------------------------------------------------
# Wine keeps its COM ports out of the "Ports" setup class; register the mapped
# one there as a port driver's installation does on Windows.
log "port discovery"
if run wine_run 60 "$WIN_BUILD/tests/win32/pelmark-register-port.exe" "COM$COM_FLASH" "$FRIENDLY"; then
  ports="$(wine_run 60 "$FLASH_EXE" --list-ports 2>>"$LOG" | tr -d '\r')" || true
  echo "$ports" >>"$LOG"
  if grep -qxF "COM$COM_FLASH	$FRIENDLY" <<<"$ports"; then
    pass 1 "--list-ports lists COM$COM_FLASH with its friendly name"
  else
    fail 1 "--list-ports did not list 'COM$COM_FLASH<TAB>$FRIENDLY'; it printed: $ports"
  fi
else
  fail 1 "registering COM$COM_FLASH as a device of the Ports class"
fi

# ---- Flash through Wine -----------------------------------------------------------
log "pelmark-flash.exe --port COM$COM_FLASH"
rc=0
out="$(wine_run 300 "$FLASH_EXE" --port "COM$COM_FLASH" 2>>"$LOG" | tr -d '\r')" || rc=$?
echo "$out" >>"$LOG"
if [ "$VERBOSE" = 1 ]; then echo "$out"; fi
if [ "$rc" -eq 0 ]; then
  pass 1 "pelmark-flash.exe: $(tail -n 1 <<<"$out")"
else
  fail 1 "pelmark-flash.exe --port COM$COM_FLASH: exit status $rc, $(tail -n 1 <<<"$out")"
fi
# Wine's server lets go of the terminal before the device ends and writes its dump.
wine_settle
kill -TERM "$PID_FLASH" 2>/dev/null || true
wait "$PID_FLASH" 2>/dev/null || true
T_FLASH=$(date +%s)

# ---- The same firmware written by the Linux build --------------------------------
log "reference: Linux pelmark-flash"
start_device reference --dump "$WORK/linux.hex"
PID_REF="${DEVICE_PIDS[-1]}"
run timeout --kill-after=10 300 "$FLASH_LINUX" --port "$DEVICE_PTY" || log "the Linux flash failed"
kill -TERM "$PID_REF" 2>/dev/null || true
wait "$PID_REF" 2>/dev/null || true

if [ ! -s "$WORK/windows.hex" ]; then
  fail 1 "the device written through Wine left no dump"
elif ! grep -q '^:0200000400F00A$' "$WORK/windows.hex"; then
  fail 1 "the device written through Wine holds no EEPROM bytes"
elif [ ! -s "$WORK/linux.hex" ]; then
  fail 1 "the reference device left no dump"
elif cmp -s "$WORK/windows.hex" "$WORK/linux.hex"; then
  pass 1 "the device holds what the Linux build writes ($(wc -l <"$WORK/windows.hex") HEX records)"
else
  fail 1 "the device written through Wine differs from the one the Linux build writes"
  diff "$WORK/windows.hex" "$WORK/linux.hex" | head -n 20 >&2 || true
fi

END=$(date +%s)
log "times: packages $((T_PACKAGES - START)) s, Linux tools and cross build $((T_BUILD - T_PACKAGES)) s," \
  "prefix $((T_PREFIX - T_BUILD)) s, unit tests $((T_TESTS - T_PREFIX)) s, discovery and flash" \
  "$((T_FLASH - T_TESTS)) s, reference $((END - T_FLASH)) s"
[ "$failed" -eq 0 ] || PELMARK_KEEP_WINE=1
echo "wine-check: $passed passed, $failed failed ($((END - START)) s)"
[ "$failed" -eq 0 ]
