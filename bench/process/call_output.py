# subprocess.run(capture_output=True) of the program of call_output.kiv.
import os, subprocess, time
passes = int(os.environ.get("BENCH_N", 1))
mb = int(os.environ.get("BENCH_MB", 100))
cmd = "head -c %d /dev/zero | tr '\\000' x" % (mb * 1048576)
total = 0
start = time.perf_counter()
for _ in range(passes):
    out = subprocess.run(cmd, shell=True, capture_output=True).stdout.decode()
    total += len(out)
elapsed = time.perf_counter() - start
print(out[-1])
print("ops:", total)
print("elapsed:", elapsed)
