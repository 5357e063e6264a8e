# The twin of terminal_keys.kiv: a console's line editor with 1,000 lines in
# its buffer; each keystroke goes through a key table, edits the input line,
# keeps an undo stack (emptied every 100 keys) and the buffer's row counts.
# Ops are keystrokes.
import os, time
keys = int(os.environ.get("BENCH_N", 20000))

class Terminal:
    def __init__(self):
        self.lines, self.nlines, self.line_cnt = [], [], 0
        self.prompt, self.line, self.pos = "", "", 0
        self.undo, self.redo, self.selects = [], [], []
        self.table = {"\r": self.enter, "\b": self.backspace}

    def add_line(self, s):
        self.lines.append(s)
        self.nlines.append(1)
        self.line_cnt += 1

    def calc_top(self):
        rows = 1 + len(self.prompt + self.line) // 80
        self.line_cnt += rows - self.nlines[-1]
        self.nlines[-1] = rows

    def enter(self): pass

    def backspace(self):
        if self.pos > 0:
            self.pos -= 1
            removed = self.line[self.pos]
            self.line = self.line[:self.pos] + self.line[self.pos + 1:]
            self.undo[0:0] = [self.pos, removed]
            self.redo.clear()

    def press_key(self, key):
        handler = self.table.get(key)
        if handler:
            handler()
        elif key >= " ":
            self.line = self.line[:self.pos] + key + self.line[self.pos:]
            self.undo[0:0] = [self.pos, 1]
            self.redo.clear()
            self.pos += 1
        self.selects.clear()
        self.lines[-1] = self.prompt + self.line
        self.calc_top()

t = Terminal()
for i in range(1, 1000):
    t.add_line("output line %d" % i)
t.prompt = ">> "
t.add_line(t.prompt)
start = time.perf_counter()
for _ in range(keys // 100):
    for _ in range(50):
        for k in ("a", "\b"):
            t.press_key(k)
    t.undo.clear()
elapsed = time.perf_counter() - start
print(len(t.lines), repr(t.line))
print("ops:", keys)
print("elapsed:", elapsed)
