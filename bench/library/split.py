# str.split at a comma (twin of split.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 1000000))
text = ",".join(["field"] * n)
start = time.perf_counter()
fields = text.split(",")
elapsed = time.perf_counter() - start
print(len(fields))
print("ops:", n)
print("elapsed:", elapsed)
