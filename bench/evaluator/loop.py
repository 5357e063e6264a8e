# The interpreter's loop overhead: a while loop counting to a million (twin of loop.kiv).
import time
start = time.perf_counter()
i = 0
while i < 1000000:
    i = i + 1
elapsed = time.perf_counter() - start
print(i)
print("ops: 1000000")
print("elapsed:", elapsed)
