#!/usr/bin/env bash
# Passes when the script runner fails (status 1) with the expected message,
# so that a runner broken in some other way does not count as "failing".
# usage: expect_failure.sh MESSAGE RUNNER ARGS...
message=$1; shift
output=$("$@" 2>&1)
status=$?
if [ "$status" -ne 1 ]; then
    echo "runner exited $status, expected 1"; echo "$output"; exit 1
fi
if ! grep -qF -- "$message" <<< "$output"; then
    echo "runner output lacks: $message"; echo "$output"; exit 1
fi
