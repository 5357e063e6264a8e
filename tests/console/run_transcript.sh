#!/usr/bin/env bash
# Runs one console transcript: `kiv --cli [ARGS]` in the transcript's folder,
# ARGS read from NAME.args when there is one, with NAME.input as standard
# input. Standard output, prompts included, must equal NAME.expected byte for
# byte, and the exit status must be 0 (or the number in NAME.status). The
# console is 80 columns wide unless the transcript changes it.
# usage: run_transcript.sh KIV NAME
set -u
kiv=$1 base=${2%.expected}
case $kiv in /*) ;; *) kiv=$PWD/$kiv ;; esac
cd "$(dirname "$base")" || exit 1
name=$(basename "$base")
args=()
[ -f "$name.args" ] && read -r -a args < "$name.args"
expected_status=0
[ -f "$name.status" ] && expected_status=$(tr -d ' \n' < "$name.status")
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
COLUMNS=80 LINES=24 timeout --kill-after=5 60 "$kiv" --cli "${args[@]}" < "$name.input" > "$actual" 2>&1
status=$?
fail=0
if [ "$status" -ne "$expected_status" ]; then echo "FAIL: exit status $status, expected $expected_status"; fail=1; fi
if ! cmp -s "$name.expected" "$actual"; then
    echo "FAIL: output differs from $name.expected"
    diff -u "$name.expected" "$actual" | head -n 60
    fail=1
fi
exit $fail
