# An object's attribute read and written (twin of field_add.kiv).
import os, time
class O:
    def __init__(self):
        self.x = 0
        self.y = 0
n = int(os.environ.get("BENCH_N", 1000000))
o = O()
start = time.perf_counter()
for _ in range(n):
    o.x = o.x + 1
elapsed = time.perf_counter() - start
print(o.x)
print("ops:", n)
print("elapsed:", elapsed)
