# Function calls and recursion: doubly recursive fib (twin of fib.kiv).
import time
def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)
start = time.perf_counter()
result = fib(24)
elapsed = time.perf_counter() - start
print(result)
print("ops: 150049")
print("elapsed:", elapsed)
