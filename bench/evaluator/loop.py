# The interpreter's loop overhead: a while loop counting to a million (twin of loop.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 1000000))
start = time.perf_counter()
i = 0
while i < n:
    i = i + 1
elapsed = time.perf_counter() - start
print(i)
print("ops:", n)
print("elapsed:", elapsed)
