# json.loads of the records of json_load.kiv.
import os, json, time
from json_records import records_text
passes = int(os.environ.get("BENCH_N", 1))
src = records_text()
start = time.perf_counter()
for _ in range(passes):
    data = json.loads(src)
elapsed = time.perf_counter() - start
print(len(data))
print("ops:", passes * len(src))
print("elapsed:", elapsed)
