# One value replaced by two in a list, as a new list (twin of replace_all_block.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 100000))
data = ["a", "b"] * n
start = time.perf_counter()
out = []
for v in data:
    if v == "b":
        out.extend(("x", "y"))
    else:
        out.append(v)
data[:] = out
elapsed = time.perf_counter() - start
print(len(data))
print("ops:", n)
print("elapsed:", elapsed)
