# Nested function calls, four deep per iteration (twin of calls.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 100000))
def d(x): return x + 1
def c(x): return d(x + 1)
def b(x): return c(x + 1)
def a(x): return b(x + 1)
start = time.perf_counter()
total = 0
for i in range(1, n + 1):
    total = total + a(i) - i
elapsed = time.perf_counter() - start
print(total)
print("ops:", 4 * n)
print("elapsed:", elapsed)
