# Component-wise addition of 2-tuples of ints (twin of pair_add.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 1000000))
p = (0, 0)
d = (1, -2)
start = time.perf_counter()
for k in range(n):
    p = (p[0] + d[0], p[1] + d[1])
elapsed = time.perf_counter() - start
print("%dx%d" % p)
print("ops:", n)
print("elapsed:", elapsed)
