#!/bin/sh
# The GUI console on a real display, driven by xdotool: the window titled
# "Kiv Console" appears; a typed line runs; an open bracket gives the
# continuation cue; a picture of the window shows the background over most of
# the terminal and text in its first row; a pasted text runs line by line;
# a script's output shows while it runs; quit ends with status 0 and leaves
# the history, newest first, in the settings file.
# usage: console.sh KIV (under xvfb-run, with a private HOME)
kiv=$1
dir=$(mktemp -d)
trap 'kill "$pid" 2> /dev/null; rm -rf "$dir"' EXIT
fail=0
problem() { echo "FAIL: $*"; fail=1; }
# waits up to 20 seconds for a file to exist
await() {
    n=0
    while [ ! -s "$1" ] && [ $n -lt 200 ]; do sleep 0.1; n=$((n + 1)); done
}
typed() { xdotool type --delay 20 "$1"; xdotool key Return; }

"$kiv" > "$dir/stdout" 2> "$dir/stderr" &
pid=$!
win=$(timeout 20 xdotool search --sync --name '^Kiv Console$' | head -n 1)
if [ -z "$win" ]; then
    problem "no window titled Kiv Console"
    cat "$dir/stderr"
    exit 1
fi
xdotool windowactivate --sync "$win" 2> /dev/null || xdotool windowfocus --sync "$win"
sleep 0.5

# a line typed and entered runs
typed "write %$dir/o.txt mold 1 + 2"
await "$dir/o.txt"
[ "$(cat "$dir/o.txt" 2> /dev/null)" = "3" ] || problem "the typed line wrote '$(cat "$dir/o.txt" 2> /dev/null)', expected 3"

# an open bracket asks for more: the next line stands after the cue "[    "
typed "["
typed "] write %$dir/cue.txt mold last gui-console-ctx/terminal/lines"
await "$dir/cue.txt"
grep -q '^["{]\[    \] write' "$dir/cue.txt" || problem "no continuation cue: $(cat "$dir/cue.txt" 2> /dev/null)"

# the window's picture: the background (252.252.252) over most of the
# terminal, text in its first row
xwd -id "$win" -silent -out "$dir/console.xwd" && xwdtopnm "$dir/console.xwd" > "$dir/console.ppm" 2> /dev/null
python3 - "$dir/console.ppm" <<'EOF' || fail=1
import sys
data = open(sys.argv[1], 'rb').read()
fields, pos = [], 0
while len(fields) < 4:                      # P6 width height maxval
    while data[pos:pos + 1].isspace(): pos += 1
    start = pos
    while not data[pos:pos + 1].isspace(): pos += 1
    fields.append(data[start:pos])
width, height = int(fields[1]), int(fields[2])
pixels = data[pos + 1:]
def at(x, y):
    i = 3 * (y * width + x)
    return tuple(pixels[i:i + 3])
background = (252, 252, 252)
# the terminal: the window less the menu bar (at most 40 rows) and the scroll bar
area = [(x, y) for y in range(40, height, 3) for x in range(0, width - 20, 3)]
share = sum(at(x, y) == background for x, y in area) / len(area)
if share < 0.6:
    print("FAIL: the background covers %.0f%% of the terminal" % (100 * share)); sys.exit(1)
# the first text row: the first band of rows below the menu bar that is not all background
# text: dark pixels on the left half; the first text row lies near the top
rows = [y for y in range(0, height) if any(sum(at(x, y)) < 300 for x in range(3, width // 2))]
if not rows or rows[0] > 60:
    print("FAIL: no text in the terminal's first row"); sys.exit(1)
EOF

# a paste of three CR LF lines runs the first two and leaves the third on the
# input line, where Return runs it
typed "write-clipboard rejoin [{write %$dir/p1.txt mold 1} crlf {write %$dir/p2.txt mold 2} crlf {write %$dir/p3.txt mold 3}]"
sleep 0.5
xdotool key ctrl+v
await "$dir/p2.txt"
sleep 0.5
{ [ -s "$dir/p1.txt" ] && [ -s "$dir/p2.txt" ]; } || problem "the first two pasted lines did not run"
[ -e "$dir/p3.txt" ] && problem "the third pasted line ran before Return"
xdotool key Return
await "$dir/p3.txt"
[ -s "$dir/p3.txt" ] || problem "the third pasted line was not left on the input line"

# a script that prints for four seconds shows its output as it runs: two
# pictures taken a second apart while it runs differ (the lines scroll by)
typed "t: now/precise until [print random 1000000  (difference now/precise t) > 0:00:04] write %$dir/loop.txt {done}"
sleep 1
xwd -id "$win" -silent -out "$dir/run1.xwd"
sleep 1
xwd -id "$win" -silent -out "$dir/run2.xwd"
await "$dir/loop.txt"
[ -s "$dir/loop.txt" ] || problem "the printing loop did not end"
if cmp -s "$dir/run1.xwd" "$dir/run2.xwd"; then
    problem "the console showed nothing new while a script printed"
fi

# quit: status 0, the history newest first in the settings file
typed "quit"
n=0
while kill -0 "$pid" 2> /dev/null && [ $n -lt 200 ]; do sleep 0.1; n=$((n + 1)); done
wait "$pid"
status=$?
[ "$status" -eq 0 ] || problem "quit ended with status $status"
cfg="${XDG_DATA_HOME:-$HOME/.local/share}/Kiv/Kiv-Console/console-cfg.kiv"
if [ -f "$cfg" ]; then
    history=$(tr '\n' ' ' < "$cfg" | sed 's/.*history: *//')
    # newest first: quit, the line closing the bracket, the bracket, the first line
    order=$(printf '%s' "$history" | awk '{ print index($0, "\"quit\"") < index($0, "] write") && index($0, "] write") < index($0, "\"[\"") && index($0, "\"[\"") < index($0, "o.txt mold 1 + 2") && index($0, "\"quit\"") == 2 }')
    [ "$order" = 1 ] || problem "history in the settings file: $history"
else
    problem "no settings file at $cfg"
fi
[ -s "$dir/stderr" ] && { echo "--- standard error:"; cat "$dir/stderr"; }
exit $fail
