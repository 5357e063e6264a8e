# The twin of long_line_paint.kiv: a console buffer of 100 lines whose input
# line holds BENCH_N characters without a space; twenty keys (a letter, then
# Backspace) at its end, each followed by a repaint that lays out only the
# rows that show: the long line in rows of the view's width in characters.
# Ops are the characters of the line.
import os, time
size = int(os.environ.get("BENCH_N", 1000000))
keys = 20
line_h, char_w, width, height = 17, 8.1, 620, 480
cols = int((width - 3) / char_w)
lines = ["output line %d" % i for i in range(1, 100)]
lines.append(">> ")
start = time.perf_counter()
lines[-1] += "0123456789abcdef" * (size // 16)

def paint():
    rows_shown = []
    y, n = 0, len(lines) - height // line_h
    n = max(n, 0)
    for text in lines[n:]:
        cnt = max(1, -(-len(text) // cols))
        first = max(0, -y // line_h)
        last = min(cnt - 1, (height - y) // line_h)
        rows_shown.extend(text[r * cols:(r + 1) * cols] for r in range(first, last + 1))
        y += cnt * line_h
    return rows_shown

for i in range(1, keys + 1):
    lines[-1] = lines[-1] + "a" if i % 2 else lines[-1][:-1]
    paint()
elapsed = time.perf_counter() - start
print(len(lines), str(len(lines[-1]) - 3 == 16 * (size // 16)).lower())
print("ops:", size)
print("elapsed:", elapsed)
