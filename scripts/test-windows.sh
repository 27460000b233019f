#!/usr/bin/env bash
# The Windows check: cross-builds QB7720DLL (scripts/build-windows.sh), checks the DLL's export table
# and runtime imports, then under Wine runs the Windows test programs and the C example with the
# emulator backend, and every export on the real backend, which finds no radio under Wine.
#   BUILD_DIR   build directory (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-windows}
export BUILD_DIR=$build
status=0
fail() {
  echo "FAILED: $*" >&2
  status=1
}
# A build failure is reported, and whatever did build is still checked and run.
bash scripts/build-windows.sh || fail "the Windows build (see the compiler output above)"

bin=$build/bin
dll=$bin/QB7720DLL.dll

# --- the DLL itself ----------------------------------------------------------------------------------
[ -f "$dll" ] || { echo "no $dll" >&2; exit 1; }
[ -f "$build/lib/libQB7720DLL.dll.a" ] || fail "no import library $build/lib/libQB7720DLL.dll.a"

declared=$(grep -oE 'QB7720_CALL[[:space:]]+QB7720[A-Za-z]+[[:space:]]*\(' dll/include/QB7720DLL.h |
  sed -E 's/QB7720_CALL[[:space:]]+//; s/[[:space:]]*\($//' | sort)
exported=$(x86_64-w64-mingw32-objdump -p "$dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^[[:space:]]*$/p' | tail -n +2 | grep -oE '\][[:space:]]+[^[:space:]]+$' |
  sed -E 's/^\][[:space:]]+//' | sort)
if [ "$(wc -l <<<"$declared")" -ne 24 ]; then
  fail "the header declares $(wc -l <<<"$declared") exports, not 24"
elif [ "$exported" != "$declared" ]; then
  fail "export table differs from the 24 declared names:"
  diff <(echo "$declared") <(echo "$exported") >&2 || true
else
  echo "export table: exactly the 24 QB7720* names, undecorated"
fi
imports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
if grep -qiE 'libstdc\+\+|libgcc|libwinpthread' <<<"$imports"; then
  fail "the DLL needs the compiler's runtime DLLs: $imports"
else
  echo "runtime linked statically; imports: $imports"
fi

# --- under Wine --------------------------------------------------------------------------------------
export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wine wineboot --init >/dev/null 2>&1 || true

run() {  # name, timeout in seconds, command...
  local name=$1 limit=$2
  shift 2
  local start=$SECONDS
  if timeout "$limit" "$@" >"$build/$name.log" 2>&1; then
    echo "passed: $name ($((SECONDS - start)) s)"
  else
    fail "$name ($((SECONDS - start)) s); last lines of $build/$name.log:"
    tail -n 30 "$build/$name.log" >&2
  fi
}

# Each gtest program once, directly (a ctest entry per case would start Wine per case).
for t in winrt_backend_tests platform_tests qb_protocol_tests qb_dll_discovery_unit_tests \
         qb_dll_discovery_tests dll_init_tests dll_core_tests; do
  if [ -f "$bin/$t.exe" ]; then
    run "$t" 600 wine "$bin/$t.exe"
  elif grep -q "^$t:" <<<"$(cmake --build "$build" --target help)"; then
    fail "$t did not build"
  else
    echo "skipped: $t (not in this tree)"
  fi
done

# The C example against an emulated loopback bridge, through the DLL's own backend choice.
if [ -f "$bin/bridge_echo.exe" ]; then
  run bridge_echo 120 env QB7720_EMULATOR="bridges=1 peer=loopback time=real" wine "$bin/bridge_echo.exe" QB7720 \
    "Hello, bridge!"
  grep -q "received 14 bytes: Hello, bridge!" "$build/bridge_echo.log" || fail "bridge_echo did not echo the text"
else
  fail "bridge_echo did not build"
fi

# The real backend: no radio, no device, a null open, and no crash, through every export.
if [ -f "$bin/dll_exports_smoke.exe" ]; then
  run dll_exports_smoke 120 env -u QB7720_EMULATOR wine "$bin/dll_exports_smoke.exe"
else
  fail "dll_exports_smoke did not build"
fi

# The library's 1 ms sleep on the real backend, against Sleep(1) in the same run (figures only).
if [ -f "$bin/bench_sleep_precision.exe" ]; then
  run bench_sleep_precision 120 env -u QB7720_EMULATOR wine "$bin/bench_sleep_precision.exe" 1000
  cat "$build/bench_sleep_precision.log"
else
  fail "bench_sleep_precision did not build"
fi

if [ "$status" -eq 0 ]; then
  echo "Windows build and Wine run: all passed"
else
  echo "Windows build and Wine run: failures above" >&2
fi
exit "$status"
