# One pass of a counted loop with one sum (twin of repeat_add.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 1000000))
k = 3
start = time.perf_counter()
s = 0
for i in range(1, n + 1):
    s = s + k
elapsed = time.perf_counter() - start
print(s)
print("ops:", n)
print("elapsed:", elapsed)
