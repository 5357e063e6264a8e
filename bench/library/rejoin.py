# Two texts and two integers joined into one text, n times (twin of rejoin.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 1000000))
start = time.perf_counter()
for i in range(1, n + 1):
    s = "k" + str(i) + "-" + str(i)
elapsed = time.perf_counter() - start
print(s)
print("ops:", n)
print("elapsed:", elapsed)
