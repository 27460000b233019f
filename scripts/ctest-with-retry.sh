#!/usr/bin/env bash
# Runs every test of a build; a test that fails is run once more, and one that passes then is named
# as having passed only on a retry (a flaky test, not a passing one). Ends with one line counting
# every test once by its final result, in ctest's words, and fails when any test still fails.
#   ctest-with-retry.sh BUILD_DIR [CTEST_OPTION...]
set -euo pipefail
build=${1:?usage: ctest-with-retry.sh BUILD_DIR [CTEST_OPTION...]}
shift
failed_log="$build/Testing/Temporary/LastTestsFailed.log"
rm -f "$failed_log"
total=$(ctest --test-dir "$build" -N | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
set +e
ctest --test-dir "$build" --output-on-failure "$@"
first=$?
set -e
failed_first=()
if ((first != 0)) && [[ -s $failed_log ]]; then
  mapfile -t failed_first < <(sed -E 's/^[0-9]+://' "$failed_log")
fi
if ((first != 0 && ${#failed_first[@]} == 0)); then
  echo "ctest failed without naming a failed test" >&2
  exit 1
fi
still_failing=()
if ((${#failed_first[@]})); then
  echo "== running the ${#failed_first[@]} failed test(s) once more"
  set +e
  ctest --test-dir "$build" --output-on-failure --rerun-failed "$@"
  second=$?
  set -e
  # When the second run passes, ctest leaves the list of the first one in place.
  if ((second != 0)); then
    if [[ -s $failed_log ]]; then
      mapfile -t still_failing < <(sed -E 's/^[0-9]+://' "$failed_log")
    else
      still_failing=("${failed_first[@]}")
    fi
  fi
fi
retried=()
for name in "${failed_first[@]}"; do
  keep=1
  for bad in "${still_failing[@]}"; do [[ $bad == "$name" ]] && keep=0; done
  ((keep)) && retried+=("$name")
done
if ((${#retried[@]})); then
  echo "tests that passed only on a retry (${#retried[@]}):"
  printf '  %s\n' "${retried[@]}"
fi
echo "passed only on a retry: ${#retried[@]}"
echo "overall: $((total - ${#still_failing[@]})) tests passed, ${#still_failing[@]} tests failed out of $total"
((${#still_failing[@]} == 0))
