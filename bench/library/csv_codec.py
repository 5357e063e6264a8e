# csv.reader over the lines of csv_codec.kiv.
import os, csv, io, time
passes = int(os.environ.get("BENCH_N", 1))
src = "".join('%d,entry number %d,"a, ""quoted"" field",%r,true\n' % (i, i, i / 8.0)
              for i in range(1, int(os.environ.get("BENCH_RECORDS", 200000)) + 1))
start = time.perf_counter()
for _ in range(passes):
    data = list(csv.reader(io.StringIO(src)))
elapsed = time.perf_counter() - start
print(len(data))
print("ops:", passes * len(src))
print("elapsed:", elapsed)
