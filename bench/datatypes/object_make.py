# Instances of a class of two fields and two methods (twin of object_make.kiv).
import os, time
class P:
    def __init__(self, x):
        self.x = x
        self.y = 0
    def shift(self, d):
        self.x = self.x + d
    def total(self):
        return self.x + self.y
n = int(os.environ.get("BENCH_N", 200000))
start = time.perf_counter()
for i in range(1, n + 1):
    o = P(i)
elapsed = time.perf_counter() - start
o.shift(1)
print(o.x, o.total())
print("ops:", n)
print("elapsed:", elapsed)
