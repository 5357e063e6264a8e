# The collector's pacing: ten million short-lived two-element lists (twin of churn.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 10000000))
start = time.perf_counter()
for i in range(1, n + 1):
    b = [i, i]
elapsed = time.perf_counter() - start
print(b[0] + b[1])
print("ops:", n)
print("elapsed:", elapsed)
