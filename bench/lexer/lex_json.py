# Parsing throughput of json.loads on the records of lex.kiv written as JSON.
import json, time
parts = []
for i in range(1, 20001):
    parts.append('{"item": %d, "name": "entry number %d", "count": %d, "ratio": %r, '
                 '"tags": ["alpha", "beta", "gamma"], "flag": true}' % (i, i, i, i / 8.0))
src = "[" + ",\n".join(parts) + "]"
start = time.perf_counter()
data = json.loads(src)
elapsed = time.perf_counter() - start
print(len(data))
print("ops:", len(src.encode()))
print("elapsed:", elapsed)
