# map! insertions of new integer and string keys (twin of map_put.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 20))
size = int(os.environ.get("BENCH_KEYS", 10000))
ints = list(range(1, size + 1))
keys = [str(i) for i in ints]
start = time.perf_counter()
total = 0
for _ in range(n):
    m = {}
    for i in ints:
        m[i] = i
    for k in keys:
        m[k] = 0
    total = total + len(m)
elapsed = time.perf_counter() - start
print(total)
print("ops:", n * size * 2)
print("elapsed:", elapsed)
