# Parsing throughput of ast.parse on the records of lex.kiv written as Python literals.
import ast, time
parts = []
for i in range(1, 20001):
    parts.append('[item_%d, "entry number %d", %d, %r, [alpha, beta, gamma], True]' % (i, i, i, i / 8.0))
src = "[\n" + ",\n".join(parts) + "]\n"
start = time.perf_counter()
tree = ast.parse(src)
elapsed = time.perf_counter() - start
print(len(tree.body[0].value.elts))
print("ops:", len(src.encode()))
print("elapsed:", elapsed)
