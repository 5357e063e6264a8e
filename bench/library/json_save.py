# json.dumps of the values json.loads made from the records of json_save.kiv.
import os, json, time
from json_records import records_text
passes = int(os.environ.get("BENCH_N", 1))
src = records_text()
data = json.loads(src)
start = time.perf_counter()
for _ in range(passes):
    out = json.dumps(data, separators=(",", ":"))
elapsed = time.perf_counter() - start
print(len(out))
print("ops:", passes * len(out))
print("elapsed:", elapsed)
