# Element-wise addition of 4-tuples clamped to 255, restarted every 60
# rounds (twin of tuple_add.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 1000000))
t = (0, 0, 0, 0)
u = (1, 2, 3, 5)
start = time.perf_counter()
for k in range(1, n + 1):
    t = (min(255, t[0] + u[0]), min(255, t[1] + u[1]), min(255, t[2] + u[2]), min(255, t[3] + u[3]))
    if k % 60 == 0:
        t = (0, 0, 0, 0)
elapsed = time.perf_counter() - start
print("%d.%d.%d.%d" % t)
print("ops:", n)
print("elapsed:", elapsed)
