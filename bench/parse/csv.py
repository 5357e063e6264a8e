# One 30-byte CSV line split into its fields, per line (twin of csv.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 100000))
line = "alpha,beta-gamma,delta,1234567"
fields = 0
start = time.perf_counter()
for _ in range(n):
    fields += len(line.split(","))
elapsed = time.perf_counter() - start
print(fields)
print("ops:", n)
print("elapsed:", elapsed)
