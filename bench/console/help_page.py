# The twin of help_page.kiv: a help page (signature, description, one line
# per parameter) of str.ljust's Python equivalent, built BENCH_N times.
import os, time, inspect
pages = int(os.environ.get("BENCH_N", 2000))

def pad(s, n, *, left=False, fill=" "):
    """Pad a FORMed value on right side with spaces"""
    return s

def page_of(name, fn):
    sig = inspect.signature(fn)
    out = ["USAGE:", "     " + name.upper() + " " + " ".join(sig.parameters), "", "DESCRIPTION:",
           "     " + inspect.getdoc(fn).strip() + ".", "     %s is a function value." % name.upper(),
           "", "ARGUMENTS:"]
    for p in sig.parameters.values():
        out.append("     " + p.name.ljust(12) + " " + repr(p.default))
    return "\n".join(out) + "\n"

start = time.perf_counter()
for _ in range(pages):
    page = page_of("pad", pad)
elapsed = time.perf_counter() - start
print(len(page.split("\n")))
print("ops:", pages)
print("elapsed:", elapsed)
