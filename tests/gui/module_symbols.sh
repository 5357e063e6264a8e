#!/bin/sh
# The GUI module resolves every runtime function it calls against the
# program's exported ones: a function the program lacked would make opening
# the module fail at the first GUI use.
# usage: module_symbols.sh KIV MODULE
set -u
needed=$(mktemp) given=$(mktemp)
trap 'rm -f "$needed" "$given"' EXIT
nm -D --undefined-only "$2" | awk '{print $2}' | grep '^_ZNK\{0,1\}3kiv' | sort -u > "$needed"
nm -D --defined-only "$1" | awk '{print $3}' | sort -u > "$given"
[ -s "$needed" ] || { echo "FAIL: the module calls nothing of the runtime"; exit 1; }
missing=$(comm -23 "$needed" "$given")
if [ -n "$missing" ]; then
    echo "FAIL: the module needs what the program does not export:"
    echo "$missing" | c++filt
    exit 1
fi
