# SHA-256 of BENCH_N MiB (twin of sha256.kiv).
import os, time, zlib, hashlib
n = int(os.environ.get("BENCH_N", 100))
data = bytes.fromhex("00112233445566778899AABBCCDDEEFF") * (n * 65536)
start = time.perf_counter()
s = hashlib.sha256(data).digest()
elapsed = time.perf_counter() - start
print("#{%s}" % s[:4].hex().upper() if isinstance(s, bytes) else s)
print("ops:", n * 1048576)
print("elapsed:", elapsed)
