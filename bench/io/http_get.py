# urllib.request.urlopen of the page of http_get.kiv, as many times.
import os, random, subprocess, sys, time, urllib.request
n = 1000 * int(os.environ.get("BENCH_N", 1))
portfile = "/tmp/kiv-bench-http-py-%d.port" % random.randrange(10 ** 9)
subprocess.Popen([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "http_server.py"), portfile])
for _ in range(400):
    if os.path.exists(portfile):
        break
    time.sleep(0.05)
base = "http://127.0.0.1:%s" % open(portfile).read()
os.remove(portfile)
start = time.perf_counter()
for _ in range(n):
    with urllib.request.urlopen(base + "/small") as r:
        text = r.read().decode()
elapsed = time.perf_counter() - start
urllib.request.urlopen(base + "/quit").read()
print(len(text))
print("ops:", n)
print("elapsed:", elapsed)
