# json.dumps of the values json.loads made from the records of json_save.kiv.
import os, json, time
passes = int(os.environ.get("BENCH_N", 1))
parts = []
for i in range(1, int(os.environ.get("BENCH_RECORDS", 200000)) + 1):
    parts.append('{"item": %d, "name": "entry number %d", "count": %d, "ratio": %r, '
                 '"tags": ["alpha", "beta", "gamma"], "flag": true}' % (i, i, i, i / 8.0))
src = "[" + ",\n".join(parts) + "]"
data = json.loads(src)
start = time.perf_counter()
for _ in range(passes):
    out = json.dumps(data, separators=(",", ":"))
elapsed = time.perf_counter() - start
print(len(out))
print("ops:", passes * len(out))
print("elapsed:", elapsed)
