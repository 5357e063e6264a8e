# Function calls and recursion: doubly recursive fib (twin of fib.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 24))
def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)
start = time.perf_counter()
result = fib(n)
elapsed = time.perf_counter() - start
a, b = 0, 1
for _ in range(n + 1): a, b = b, a + b  # a is fib(n + 1)
print(result)
print("ops:", 2 * a - 1)
print("elapsed:", elapsed)
