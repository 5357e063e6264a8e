# The twin of terminal_print.kiv: printed lines reaching a console's line
# buffer of 1,000 lines (the oldest dropped), each measured in rows and
# counted towards a redraw. Ops are lines.
import os, time
from collections import deque
prints = int(os.environ.get("BENCH_N", 10000))

class Terminal:
    def __init__(self, max_lines=1000, cols=80):
        self.lines, self.nlines = deque(), deque()
        self.line_cnt, self.redraw_cnt, self.redraws = 0, 0, 0
        self.max_lines, self.cols = max_lines, cols

    def add_line(self, s):
        if len(self.lines) == self.max_lines:
            self.lines.popleft()
            self.line_cnt -= self.nlines.popleft()
        self.lines.append(s)
        rows = 1 + len(s) // self.cols
        self.nlines.append(rows)
        self.line_cnt += rows

    def vprint(self, s):
        if len(s) > 100000:
            s = s[:90000] + "\n...\n" + s[-10000:]
        for part in s.split("\n"):
            self.add_line(part)
        if self.redraw_cnt > 20:
            self.redraws += 1
            self.redraw_cnt = 0
        else:
            self.redraw_cnt += 1

t = Terminal()
texts = ["printed line %d of the benchmark's output, as long as a result" % i for i in range(1, 101)]
start = time.perf_counter()
for _ in range(prints // 100):
    for text in texts:
        t.vprint(text)
elapsed = time.perf_counter() - start
print(len(t.lines), t.lines[-1])
print("ops:", prints)
print("elapsed:", elapsed)
