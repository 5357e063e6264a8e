# append of an integer to a list that grows from empty (twin of block_append.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 1000000))
start = time.perf_counter()
b = []
for i in range(1, n + 1):
    b.append(i)
elapsed = time.perf_counter() - start
print(len(b))
print("ops:", n)
print("elapsed:", elapsed)
