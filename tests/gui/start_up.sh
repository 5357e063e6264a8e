#!/bin/sh
# The start-up's choice, run under a display: with it and no --cli the GUI
# console runs the script (what it prints goes to its window, so the script
# writes its answer to a file); with --cli, with no display, or with one that
# cannot be opened the program runs in text mode and says nothing about it.
# usage: start_up.sh KIV
kiv=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'Kiv []\nwrite %%%s either system/console/gui? ["gui"] ["text"]\nquit\n' "$dir/which.txt" > "$dir/which.kiv"
fail=0
check() {
    expected=$1
    shift
    rm -f "$dir/which.txt"
    timeout 60 "$@" "$dir/which.kiv" < /dev/null > /dev/null 2> "$dir/errors"
    status=$?
    out=$(cat "$dir/which.txt" 2> /dev/null)
    if [ "$out" != "$expected" ] || [ "$status" -ne 0 ] || [ -s "$dir/errors" ]; then
        echo "FAIL: $* gave '$out' (status $status), expected '$expected'"
        cat "$dir/errors"
        fail=1
    fi
}
check gui "$kiv"
check text "$kiv" --cli
check text env -u DISPLAY "$kiv"
check text env DISPLAY=:4321 "$kiv"
exit $fail
