# The values of a list formed and joined by spaces, n times (twin of form_block.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 1000000))
b = ["key", 12345, "-", 67, 1.5, "word"]
start = time.perf_counter()
for i in range(n):
    s = " ".join([str(v) for v in b])
elapsed = time.perf_counter() - start
print(s)
print("ops:", n)
print("elapsed:", elapsed)
