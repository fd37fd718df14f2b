#!/bin/sh
# runner_test.sh RUN_32BIT WITHOUT_32BIT_SYSCALLS HOST_EXE DLL
#
# How run-32bit chooses and fails, on any machine: under
# without_32bit_syscalls the machine is one whose kernel runs no 32-bit
# programs, and there the chosen way must be the emulated one and must load
# and open the shipped DLL through the stand-in host.
set -u
run=$1 jail=$2 host=$3 dll=$4
failures=0

check() {  # check NAME EXPECTED-STATUS(0|fail) PATTERN COMMAND...
  name=$1 expected=$2 pattern=$3
  shift 3
  output=$("$@" 2>&1)
  status=$?
  verdict=ok
  if [ "$expected" = 0 ] && [ "$status" -ne 0 ]; then verdict="exit status $status"
  elif [ "$expected" = fail ] && [ "$status" -eq 0 ]; then verdict="succeeded, should fail"
  elif ! printf '%s\n' "$output" | grep -q -- "$pattern"; then verdict="no line matching '$pattern'"
  elif [ "$expected" = fail ] && [ "$(printf '%s\n' "$output" | wc -l)" -ne 1 ]; then verdict="more than one line"
  fi
  if [ "$verdict" = ok ]; then echo "ok: $name"
  else
    echo "FAIL: $name: $verdict"; printf '%s\n' "$output" | sed 's/^/    /'
    failures=$((failures + 1))
  fi
}

unset QUORVANE_DLL_RUNNER
check "without 32-bit system calls, wine's own loader dies" fail "" \
  "$jail" /usr/lib/wine/wine --version
check "without 32-bit system calls, the runner emulates" 0 "^emulated$" \
  "$jail" "$run" --which
check "without 32-bit system calls, the DLL loads and opens emulated" 0 "^pins: 24" \
  "$jail" "$run" "$host" "$dll"
check "asked for wine where it cannot start, the runner says why" fail "wine cannot start here" \
  "$jail" env QUORVANE_DLL_RUNNER=wine "$run" "$host" "$dll"
check "asked for an unknown way, the runner says which are known" fail "use wine or emulated" \
  env QUORVANE_DLL_RUNNER=box "$run" "$host" "$dll"
check "asked for emulation, the runner emulates" 0 "^emulated$" \
  env QUORVANE_DLL_RUNNER=emulated "$run" --which
check "asked for emulation, the DLL loads and opens" 0 "^pins: 24" \
  env QUORVANE_DLL_RUNNER=emulated "$run" "$host" "$dll"

# A cold start under emulation, in a prefix of its own that does not exist
# yet (no server, no services): the program's output and nothing else, none
# of wine's start-up faults under the emulator.
cold=$(mktemp -d "${TMPDIR:-/tmp}/run-32bit-cold.XXXXXX")
rmdir "$cold"
output=$(env QUORVANE_DLL_RUNNER=emulated WINEPREFIX="$cold" "$run" "$host" "$dll" 2>&1)
status=$?
WINEPREFIX="$cold" wineserver -k 2>/dev/null
rm -rf "$cold"
if [ "$status" -ne 0 ] || ! printf '%s\n' "$output" | grep -q "^pins: 24" ||
   printf '%s\n' "$output" | grep -q "^qemu:\|^wine:\|^wine client error\|Unhandled\|^err:"; then
  echo "FAIL: a cold emulated start prints only the program's output (exit status $status)"
  printf '%s\n' "$output" | grep -v '^  ' | sed 's/^/    /' | head -n 20
  failures=$((failures + 1))
else
  echo "ok: a cold emulated start prints only the program's output"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
