# Pillow saving and loading the picture of image_png.kiv as a PNG file.
import os, sys, time
try:
    from PIL import Image
except ImportError:  # a Python of its own beside the system's Pillow
    sys.path.append("/usr/lib/python3/dist-packages")
    from PIL import Image
passes = int(os.environ.get("BENCH_N", 1))
w = int(os.environ.get("BENCH_WIDTH", 4000))
h = int(os.environ.get("BENCH_HEIGHT", 3000))
base = bytearray()
seed = 1
for i in range(1, w * 3 + 4096 + 1):
    seed = (seed * 75 + 74) % 65537
    base.append((i + seed % 24) % 256)
rgb = b"".join(bytes(base[y * 37 % 4096:y * 37 % 4096 + w * 3]) for y in range(h))
img = Image.frombytes("RGB", (w, h), rgb)
path = "/tmp/py-bench-image.png"
start = time.perf_counter()
for _ in range(passes):
    img.save(path, "PNG")
    back = Image.open(path)
    back.load()
elapsed = time.perf_counter() - start
os.remove(path)
print("%dx%d" % back.size)
print("ops:", passes * 2 * w * h)
print("elapsed:", elapsed)
