#!/usr/bin/env bash
# Runs a command and passes only when it exits with the expected status and, if a pattern is
# given, printed a line matching it. ctest ignores the exit status of a test with a pass pattern,
# which let programs that crashed at exit pass; this checks both.
#   expect-exit.sh STATUS [PATTERN] -- COMMAND...
set -uo pipefail
expected=${1:?usage: expect-exit.sh STATUS [PATTERN] -- COMMAND...}
shift
pattern=
if [[ ${1:-} != -- ]]; then pattern=$1; shift; fi
[[ ${1:-} == -- ]] && shift
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$@" >"$out" 2>&1
status=$?
cat "$out"
echo "exit status: $status"
if ((status != expected)); then
  echo "expect-exit.sh: expected exit status $expected, got $status" >&2
  exit 1
fi
if [[ -n $pattern ]] && ! grep -Eq -- "$pattern" "$out"; then
  echo "expect-exit.sh: no line matches: $pattern" >&2
  exit 1
fi
