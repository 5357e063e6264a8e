#!/bin/sh
# xvfb_run.sh COMMAND [ARGS...]: runs the command on an X server of its own.
# `xvfb-run -a` takes the first server number it sees free, so two tests
# started together can take the same one and share a server, each then
# seeing (and typing into) the other's windows. Here a number is claimed by
# a lock first; the lock goes with the last process that holds it open.
n=100
while [ "$n" -lt 1000 ]; do
    exec 9> "/tmp/kiv-xvfb-$n.lock"
    if flock -n 9 && [ ! -e "/tmp/.X$n-lock" ]; then
        exec xvfb-run -n "$n" "$@"
    fi
    exec 9>&-
    n=$((n + 1))
done
echo "xvfb_run.sh: no free X server number" >&2
exit 1
