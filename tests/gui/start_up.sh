#!/bin/sh
# The start-up's choice, run under a display: with it and no --cli the GUI
# starts; with --cli, with no display, or with one that cannot be opened the
# program runs in text mode and says nothing about it.
# usage: start_up.sh KIV
kiv=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'Kiv []\nprint either object? system/view ["gui"] ["text"]\n' > "$dir/which.kiv"
fail=0
check() {
    expected=$1
    shift
    out=$("$@" "$dir/which.kiv" < /dev/null 2> "$dir/errors")
    status=$?
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
