# Twin of compress_bench.cpp: Python's zlib at levels 1 and 6 on the same file,
# best of three, in the same row format.
import sys, time, zlib

data = open(sys.argv[1], "rb").read()

def rate(work):
    best = 1e30
    for _ in range(3):
        start = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - start)
    return len(data) / 1e6 / best

for level in (1, 6):
    packed = zlib.compress(data, level)
    pack = rate(lambda: zlib.compress(data, level))
    unpack = rate(lambda: zlib.decompress(packed))
    assert zlib.decompress(packed) == data
    print("%-28s %12d %10.1f %10.1f" % ("python zlib, level %d" % level, len(packed), pack, unpack))
