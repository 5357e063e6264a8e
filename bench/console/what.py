# The twin of what.kiv: every builtin callable, sorted, one line of name,
# type name and first doc line cut to 79 characters, BENCH_N times.
import os, time, builtins
passes = int(os.environ.get("BENCH_N", 20))

def what():
    out = []
    for name in sorted(dir(builtins), key=str.lower):
        value = getattr(builtins, name)
        if not callable(value):
            continue
        doc = (value.__doc__ or "").strip().split("\n")[0]
        line = "     " + name.ljust(15) + " " + type(value).__name__.ljust(12) + "  " + doc
        out.append(line if len(line) <= 79 else line[:76] + "...")
    return "\n".join(out) + "\n"

start = time.perf_counter()
for _ in range(passes):
    text = what()
elapsed = time.perf_counter() - start
lines = text.split("\n")
print("true" if max(len(l) for l in lines) <= 79 else "false")
print("ops:", passes * (len(lines) - 1))
print("elapsed:", elapsed)
