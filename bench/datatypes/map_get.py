# map! lookups of integer and string keys (twin of map_get.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 200000))
m = {}
keys = []
for i in range(1, n + 1):
    m[i] = i
    k = str(i)
    keys.append(k)
    m[k] = i
start = time.perf_counter()
s = 0
for i in range(1, n + 1):
    if m.get(i): s = s + 1
for k in keys:
    if m.get(k): s = s + 1
elapsed = time.perf_counter() - start
print(s)
print("ops:", n * 2)
print("elapsed:", elapsed)
