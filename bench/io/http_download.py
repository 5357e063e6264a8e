# urllib.request.urlopen(...).read() of the download of http_download.kiv.
import os, random, subprocess, sys, time, urllib.request
passes = int(os.environ.get("BENCH_N", 1))
mb = int(os.environ.get("BENCH_MB", 100))
portfile = "/tmp/kiv-bench-http-py-%d.port" % random.randrange(10 ** 9)
subprocess.Popen([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "http_server.py"), portfile])
for _ in range(400):
    if os.path.exists(portfile):
        break
    time.sleep(0.05)
base = "http://127.0.0.1:%s" % open(portfile).read()
os.remove(portfile)
total = 0
start = time.perf_counter()
for _ in range(passes):
    with urllib.request.urlopen("%s/big/%d" % (base, mb)) as r:
        data = r.read()
    total += len(data)
elapsed = time.perf_counter() - start
urllib.request.urlopen(base + "/quit").read()
print(len(data) // 1048576)
print("ops:", total)
print("elapsed:", elapsed)
