# Parsing throughput of ast.parse on the records of lex.kiv written as Python literals.
import os, ast, time
passes = int(os.environ.get("BENCH_N", 1))
parts = []
for i in range(1, int(os.environ.get("BENCH_RECORDS", 20000)) + 1):
    parts.append('[item_%d, "entry number %d", %d, %r, [alpha, beta, gamma], True]' % (i, i, i, i / 8.0))
src = "[\n" + ",\n".join(parts) + "]\n"
start = time.perf_counter()
for _ in range(passes): tree = ast.parse(src)
elapsed = time.perf_counter() - start
print(len(tree.body[0].value.elts))
print("ops:", passes * len(src.encode()))
print("elapsed:", elapsed)
