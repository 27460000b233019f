#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under address+undefined and runs each for SECONDS seconds.
# Exits non-zero when any target finds a crash, a leak, a timeout or a broken invariant.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: run-fuzz.sh SECONDS}
build=${FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_BUILD_JOBS:-$(nproc)}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_FUZZ=ON \
  -DQB_SANITIZE=address -DQB_BUILD_APP=OFF -DQB_BUILD_BENCH=OFF
cmake --build "$build" --target fuzz -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
shopt -s nullglob
targets=("$build"/bin/fuzz_*)
if ((${#targets[@]} == 0)); then
  echo "run-fuzz: no fuzz targets were built" >&2
  exit 1
fi

# One target per core at a time; each reports once it ends, so the output stays whole.
run_target() {
  local target=$1 name corpus artifacts log seeds=() dir runs took
  name=$(basename "$target")
  corpus="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name/"
  log="$build/fuzz-logs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  for dir in fuzz/*/seeds/"${name#fuzz_}"; do seeds+=("$dir"); done
  if "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts" \
      "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    took=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\2/p' "$log" | tail -n1)
    echo "== $name: ${seconds} s: ok, ${runs:-?} runs in ${took:-?} s"
  else
    echo "== $name: ${seconds} s: FINDING (log $log, inputs in $artifacts):"
    tail -n 30 "$log"
    return 1
  fi
}

failed=()
declare -A running=()
wait_for_one() {
  local pid
  wait -n -p pid "${!running[@]}" || failed+=("${running[$pid]}")
  unset "running[$pid]"
}
for target in "${targets[@]}"; do
  while ((${#running[@]} >= jobs)); do wait_for_one; done
  run_target "$target" &
  running[$!]=$(basename "$target")
done
while ((${#running[@]})); do wait_for_one; done

if ((${#failed[@]})); then
  echo "run-fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
echo "run-fuzz: ${#targets[@]} targets ran ${seconds} s each without a finding"
