# csv.writer over the records of csv_write.kiv.
import os, csv, io, time
passes = int(os.environ.get("BENCH_N", 1))
rows = [[i, "entry number %d" % i, 'a, "quoted" field', i * 8, "yes"]
        for i in range(1, int(os.environ.get("BENCH_RECORDS", 200000)) + 1)]
start = time.perf_counter()
for _ in range(passes):
    out = io.StringIO()
    csv.writer(out, lineterminator="\n").writerows(rows)
    text = out.getvalue()
elapsed = time.perf_counter() - start
print(len(text))
print("ops:", passes * len(text))
print("elapsed:", elapsed)
