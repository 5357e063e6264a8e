# element-wise addition of two float64 arrays into a new one (twin of vector_add.kiv).
import os, time
from array import array
n = int(os.environ.get("BENCH_N", 10000000))
a = array('d', [1.5]) * n
b = array('d', [2.25]) * n
start = time.perf_counter()
c = array('d', [x + y for x, y in zip(a, b)])
elapsed = time.perf_counter() - start
print(len(c), c[0], c[-1])
print("ops:", n)
print("elapsed:", elapsed)
