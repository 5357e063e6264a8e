# The twin of keystroke_paint.kiv: a console buffer of 1,000 lines; each keystroke
# edits the input line (a letter inserted with its undo entry, or Backspace
# taking one back), then the visible lines are laid out again: each line's
# wrapped rows and height from its length at the view's width. Ops are keys.
import os, time
keys = int(os.environ.get("BENCH_N", 2000))
line_h, char_w, width, height = 17, 8.1, 620, 480
lines = ["output line %d %s" % (i, "x" * (i % 70)) for i in range(1, 1000)]
prompt = ">> "
lines.append(prompt)
nlines = [1] * len(lines)
heights = [line_h] * len(lines)
undo, redo = [], []
top = len(lines) - height // line_h + 1
line, pos = "", 0

def paint():
    global line_y
    y, n, h = 0, top, 0
    while n <= len(lines):
        text = lines[n - 1]
        cnt = max(1, int((len(text) * char_w + width - 1) // width))
        h = cnt * line_h
        heights[n - 1] = h
        nlines[n - 1] = cnt
        n += 1
        y += h
        if y > height:
            break
    line_y = y - h

start = time.perf_counter()
for i in range(1, keys + 1):
    if i % 2 == 1:
        line = line[:pos] + "a" + line[pos:]
        undo.insert(0, (pos, 1))
        redo.clear()
        pos += 1
    elif pos > 0:
        pos -= 1
        undo.insert(0, (pos, line[pos]))
        line = line[:pos] + line[pos + 1:]
        redo.clear()
    lines[-1] = prompt + line
    paint()
elapsed = time.perf_counter() - start
print(len(lines), len(line))
print("ops:", keys)
print("elapsed:", elapsed)
