# enbase then debase in base 64 of BENCH_N MiB (twin of base_64.kiv).
import os, time, base64
n = int(os.environ.get("BENCH_N", 30))
data = bytes.fromhex("00112233445566778899AABBCCDDEEFF") * (n * 65536)
start = time.perf_counter()
text = base64.b64encode(data).decode("ascii")
back = base64.b64decode(text)
elapsed = time.perf_counter() - start
print(back == data)
print("ops:", n * 1048576)
print("elapsed:", elapsed)
