# str.replace of a one-character text by a longer one (twin of replace_all.kiv).
import os, time
n = int(os.environ.get("BENCH_N", 100000))
text = "ab," * n
start = time.perf_counter()
text = text.replace("b", "<b>")
elapsed = time.perf_counter() - start
print(len(text))
print("ops:", n)
print("elapsed:", elapsed)
