# The text of lex_corpus.kiv (the project's Kiv sources, one after another)
# through the twins' regular-expression lexer.
import os, time
from regex_lexer import lex
passes = int(os.environ.get("BENCH_N", 1))
root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
parts = []
for folder in ["library", "library/natives", "console", "gui/engine"]:
    for name in sorted(os.listdir(os.path.join(root, folder))):
        if name.endswith(".kiv"):
            with open(os.path.join(root, folder, name), encoding="utf-8") as f:
                parts.append(f.read() + "\n")
src = "".join(parts)
start = time.perf_counter()
for _ in range(passes): data = lex(src)
elapsed = time.perf_counter() - start
print("true" if isinstance(data, list) else "false")
print("ops:", passes * len(src.encode()))
print("elapsed:", elapsed)
