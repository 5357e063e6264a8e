# map! lookups of integer and string keys (twin of map_get.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 20))
size = int(os.environ.get("BENCH_KEYS", 10000))
m = {}
ints = []
keys = []
for i in range(1, size + 1):
    m[i] = i
    ints.append(i)
    k = str(i)
    keys.append(k)
    m[k] = i
start = time.perf_counter()
s = 0
for _ in range(n):
    for i in ints:
        if m.get(i): s = s + 1
    for k in keys:
        if m.get(k): s = s + 1
elapsed = time.perf_counter() - start
print(s)
print("ops:", n * size * 2)
print("elapsed:", elapsed)
