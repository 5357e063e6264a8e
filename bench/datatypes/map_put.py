# map! insertions of new integer and string keys (twin of map_put.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 200000))
keys = [str(i) for i in range(1, n + 1)]
start = time.perf_counter()
m = {}
for i in range(1, n + 1):
    m[i] = i
for k in keys:
    m[k] = 0
elapsed = time.perf_counter() - start
print(len(m))
print("ops:", n * 2)
print("elapsed:", elapsed)
