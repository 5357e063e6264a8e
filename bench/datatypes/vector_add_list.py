# element-wise addition of two float lists into a new one (twin of vector_add.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 10000000))
a = [1.5] * n
b = [2.25] * n
start = time.perf_counter()
c = [x + y for x, y in zip(a, b)]
elapsed = time.perf_counter() - start
print(len(c), c[0], c[-1])
print("ops:", n)
print("elapsed:", elapsed)
