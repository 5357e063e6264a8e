#!/usr/bin/env bash
# Runs one script test: `kiv --cli SCRIPT` must exit with the expected status
# (0, or the number in SCRIPT's ".status" file beside it) within the time limit,
# and its standard output must equal SCRIPT's ".out" file byte for byte. Its
# standard input is SCRIPT's ".input" file beside it, else empty; the
# console is 80 columns wide.
# usage: run_script.sh KIV SCRIPT [TIMEOUT-SECONDS]
set -u
kiv=$1 script=$2 limit=${3:-60}
case $kiv in /*) ;; *) kiv=$PWD/$kiv ;; esac   # still found after the cd below
base=${script%.kiv}
expected_out=$base.out
expected_status=0
input=/dev/null
if [ -f "$base.input" ]; then
    input=$base.input
    case $input in /*) ;; *) input=$PWD/$input ;; esac   # still found after the cd below
fi
[ -f "$base.status" ] && expected_status=$(tr -d ' \n' < "$base.status")

if [ ! -f "$expected_out" ]; then
    echo "FAIL: no expected output $expected_out"
    exit 1
fi

actual=$(mktemp) errors=$(mktemp)
trap 'rm -f "$actual" "$errors"' EXIT
cd "$(dirname "$script")" || exit 1
COLUMNS=80 LINES=24 timeout --kill-after=5 "$limit" "$kiv" --cli "$(basename "$script")" < "$input" > "$actual" 2> "$errors"
status=$?

fail=0
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "FAIL: timed out after ${limit}s"; fail=1
elif [ "$status" -gt 128 ] && [ "$status" -ne "$expected_status" ]; then
    echo "FAIL: killed by signal $((status - 128))"; fail=1
elif [ "$status" -ne "$expected_status" ]; then
    echo "FAIL: exit status $status, expected $expected_status"; fail=1
fi
if ! cmp -s "$expected_out" "$actual"; then
    echo "FAIL: output differs from $expected_out"
    diff -u "$expected_out" "$actual" | head -n 60
    fail=1
fi
if [ "$fail" -ne 0 ] && [ -s "$errors" ]; then
    echo "--- standard error:"; head -n 30 "$errors"
fi
exit $fail
