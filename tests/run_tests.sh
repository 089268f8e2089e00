#!/usr/bin/env bash
# Usage: run_tests.sh BUILD [--require-label LABEL] CTEST_ARGS...
# Runs the test suite of the build folder BUILD with CTest and ends with the number of tests
# that were skipped and, for each, the reason its output gives (a line "SKIPPED: REASON", or
# GoogleTest's message after "Skipped"), so that a test that did not run is never silent.
# With --require-label, a skipped test of that label fails the run: make test installs what
# those tests need before it runs them. Exits with CTest's status, or 1.
set -uo pipefail
build=$1
shift
required_label=""
if [ "${1:-}" = "--require-label" ]; then
  required_label=$2
  shift 2
fi
cd "$build" || exit 1
console=$(mktemp)
log=$(mktemp)
trap 'rm -f "$console" "$log"' EXIT
ctest "$@" | tee "$console"
status=${PIPESTATUS[0]}
# Every test's output; kept before "ctest -N" below writes the file again.
cp Testing/Temporary/LastTest.log "$log" 2>/dev/null

required=()
if [ -n "$required_label" ]; then
  mapfile -t required < <(ctest -N -L "$required_label" | sed -n 's/^ *Test *#[0-9]*: //p')
fi
# CTest lists them after "The following tests did not run:" as "  N - NAME (Skipped)".
mapfile -t skipped < <(sed -n 's/^[[:space:]]*[0-9][0-9]* - \(.*\) (Skipped)$/\1/p' "$console")
echo
echo "Skipped tests: ${#skipped[@]}"
for name in "${skipped[@]}"; do
  reason=$(awk -v name="$name" '
    /^[0-9]+\/[0-9]+ Test: / { current = substr($0, index($0, "Test: ") + 6); next }
    current != name { next }
    /^SKIPPED: / { print substr($0, 10); exit }
    after_skip { print; exit }
    /: Skipped$/ { after_skip = 1 }
  ' "$log")
  note=""
  for r in "${required[@]}"; do
    if [ "$r" = "$name" ]; then
      note=" (not allowed: the packages of the $required_label tests are installed)"
      status=1
    fi
  done
  echo "  $name: ${reason:-no reason given}$note"
done
exit "$status"
