# datetime arithmetic and field reads (twin of date_math.kiv).
import os, time
from datetime import datetime, timedelta, timezone
n = int(os.environ.get("BENCH_N", 1000000))
d = datetime(2000, 1, 1, 10, 0, tzinfo=timezone(timedelta(hours=2)))
one = timedelta(days=1)
s = 0
start = time.perf_counter()
for _ in range(n):
    d = d + one
    s = s + d.day
elapsed = time.perf_counter() - start
print(s)
print("ops:", n * 2)
print("elapsed:", elapsed)
