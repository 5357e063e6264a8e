# json.loads of a file and json.dumps into a file, on the records of
# load_save.kiv written as JSON.
import os, json, time
passes = int(os.environ.get("BENCH_N", 1))
parts = []
for i in range(1, int(os.environ.get("BENCH_RECORDS", 200000)) + 1):
    parts.append('{"item": %d, "name": "entry number %d", "count": %d, "ratio": %r, '
                 '"tags": ["alpha", "beta", "gamma"], "flag": true}' % (i, i, i, i / 8.0))
src = "[" + ",\n".join(parts) + "]"
in_file, out_file = "/tmp/py-bench-load.json", "/tmp/py-bench-save.json"
with open(in_file, "w") as f: f.write(src)
start = time.perf_counter()
for _ in range(passes):
    with open(in_file) as f: data = json.loads(f.read())
    with open(out_file, "w") as f: f.write(json.dumps(data))
elapsed = time.perf_counter() - start
print(len(data))
print("ops:", passes * (len(src.encode()) + os.path.getsize(out_file)))
print("elapsed:", elapsed)
os.remove(in_file); os.remove(out_file)
