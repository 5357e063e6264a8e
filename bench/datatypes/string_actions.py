# The work of bench/datatypes/string_actions_bench.cpp in Python 3, for comparison.
import random, time
def t(name, f):
    s = time.perf_counter(); f(); print(f"{name}: {(time.perf_counter() - s) * 1000:.1f} ms")
def app():
    s = []
    for i in range(1_000_000): s.append(chr(97 + i % 26))
    return "".join(s)
random.seed(1)
hay = "".join(random.choice("abcdefghijklmnopqrstuvwxyz ") for _ in range(10 * 1024 * 1024)) + "XYZWVUTSRQ"
t("append 1M chars", app)
t("find 10 chars in 10 MB (folded)", lambda: hay.upper().find("XYZWVUTSRQ"))
t("trim/lines 10 MB", lambda: " ".join(hay.split()))
t("sort 10 MB", lambda: "".join(sorted(hay, key=str.lower)))
